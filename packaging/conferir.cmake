# Install-time checks, included by the install script: the folders an install writes into must be
# real folders of the installing account (or root) that no one else can write. A link left in
# their place, or a folder of another account, would have the install write and replace files
# wherever that account chose, with the installer's rights.
function(kelvane_conferir_destino prefixo)
  execute_process(COMMAND id -u OUTPUT_VARIABLE _eu OUTPUT_STRIP_TRAILING_WHITESPACE)
  foreach(_pasta "${prefixo}" "${prefixo}/exemplos" "${prefixo}/doc")
    if(IS_SYMLINK "${_pasta}")
      message(FATAL_ERROR "${_pasta} é um link; remova-o antes de instalar.")
    endif()
    if(NOT EXISTS "${_pasta}")
      continue()
    endif()
    if(NOT IS_DIRECTORY "${_pasta}")
      message(FATAL_ERROR "${_pasta} não é uma pasta; remova-o antes de instalar.")
    endif()
    execute_process(COMMAND stat -c "%u %a" "${_pasta}" OUTPUT_VARIABLE _st
      OUTPUT_STRIP_TRAILING_WHITESPACE)
    string(REPLACE " " ";" _st "${_st}")
    list(GET _st 0 _dono)
    list(GET _st 1 _modo)
    if(NOT _dono STREQUAL "0" AND NOT _dono STREQUAL _eu)
      message(FATAL_ERROR "${_pasta} pertence a outra conta (uid ${_dono}): quem a controla "
        "escolheria onde a instalação grava. Corrija com: chown root: ${_pasta} && chmod 0755 "
        "${_pasta} (e remova o que não for do Kelvane).")
    endif()
    # stat prints octal digits: the last two are the group's and others'.
    string(LENGTH "${_modo}" _n)
    math(EXPR _i "${_n} - 2")
    string(SUBSTRING "${_modo}" ${_i} 1 _grupo)
    math(EXPR _i "${_n} - 1")
    string(SUBSTRING "${_modo}" ${_i} 1 _resto)
    if(_grupo MATCHES "[2367]" OR _resto MATCHES "[2367]")
      message(FATAL_ERROR "${_pasta} pode ser alterada pelo grupo ou por outros (modo ${_modo}). "
        "Corrija com: chmod go-w ${_pasta}")
    endif()
  endforeach()
endfunction()

# The data folder, made on a real install (not for a package, whose scripts make it): private,
# and SQL Server's account's where it exists, since the job runs as it.
function(kelvane_criar_dados pasta)
  if(pasta STREQUAL "" OR NOT "$ENV{DESTDIR}" STREQUAL "" OR EXISTS "${pasta}" OR IS_SYMLINK "${pasta}")
    return()
  endif()
  file(MAKE_DIRECTORY "${pasta}")
  file(CHMOD "${pasta}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  execute_process(COMMAND id -u OUTPUT_VARIABLE _eu OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND getent passwd mssql RESULT_VARIABLE _sem_mssql OUTPUT_QUIET)
  if(_eu STREQUAL "0" AND _sem_mssql EQUAL 0)
    execute_process(COMMAND chown mssql: "${pasta}")
  endif()
  message(STATUS "Pasta de dados: ${pasta}")
endfunction()
