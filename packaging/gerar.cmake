# Install-time helper, included by the install script: makes a file from a template of this
# folder with @PASTA@ replaced by the program folder (the install prefix in force), @DADOS@ by the
# data folder, and installs
# it into `destino` (DESTDIR applies as to every installed file).
function(kelvane_instalar_gerado modelo nome destino)
  set(PASTA "${CMAKE_INSTALL_PREFIX}")
  if(NOT DADOS) # a portable copy keeps its data beside the program
    set(DADOS "${PASTA}")
  endif()
  string(MD5 _chave "$ENV{DESTDIR}|${CMAKE_INSTALL_PREFIX}")
  set(_saida "${KELVANE_GERADOS}/${_chave}/${nome}")
  configure_file("${KELVANE_PACOTE_DIR}/${modelo}" "${_saida}" @ONLY)
  file(INSTALL DESTINATION "${destino}" TYPE FILE FILES "${_saida}")
endfunction()
