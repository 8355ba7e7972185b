# Included by CTest before it runs anything (the tests folder's TEST_INCLUDE_FILES): registers one
# windows.janela.<suite>.<test> per entry of `testes_janela.exe --gtest_list_tests`, run under
# Wine. The list is kept in JANELA_LISTA and made again when the program, this script or the file
# that includes it is newer.
# Set by the including file: JANELA_EXE, JANELA_SH (tests/windows/janela.sh), JANELA_AMBIENTE
# (scripts/ambiente_windows.sh), JANELA_LISTA.

if(NOT EXISTS "${JANELA_EXE}")
  message("windows.janela: ${JANELA_EXE} não existe (scripts/preparar_windows.sh o compila); "
    "os testes da janela para Windows não foram registrados.")
  return()
endif()

if(NOT EXISTS "${JANELA_LISTA}" OR "${JANELA_EXE}" IS_NEWER_THAN "${JANELA_LISTA}"
    OR "${CMAKE_CURRENT_LIST_FILE}" IS_NEWER_THAN "${JANELA_LISTA}"
    OR "${CMAKE_PARENT_LIST_FILE}" IS_NEWER_THAN "${JANELA_LISTA}")
  file(REMOVE "${JANELA_LISTA}")
  execute_process(
    COMMAND bash -c [[source "$0" && wine_temp_proprio && wine_executar 120 "$1" --gtest_list_tests]]
      "${JANELA_AMBIENTE}" "${JANELA_EXE}"
    OUTPUT_VARIABLE _saida ERROR_VARIABLE _erros RESULT_VARIABLE _codigo)
  # The comments (a parameter's value) may hold any character; the names gtest allows cannot.
  # (execute_process has already made the program's CR LF line ends LF.)
  string(REGEX REPLACE " +#[^\n]*" "" _saida "${_saida}")
  string(REGEX MATCHALL "[^\n]+" _linhas "${_saida}")
  set(_registros "")
  set(_suite "")
  foreach(_linha IN LISTS _linhas)
    if(_linha MATCHES "^([A-Za-z0-9_/]+)\\.$")
      set(_suite "${CMAKE_MATCH_1}")
    elseif(_linha MATCHES "^  ([A-Za-z0-9_/]+)$" AND _suite)
      set(_nome "${_suite}.${CMAKE_MATCH_1}")
      string(APPEND _registros
        "add_test([==[windows.janela.${_nome}]==] bash [==[${JANELA_SH}]==] "
        "[==[${JANELA_EXE}]==] [==[--gtest_filter=${_nome}]==])\n"
        "set_tests_properties([==[windows.janela.${_nome}]==] PROPERTIES TIMEOUT 900 "
        "RESOURCE_LOCK wine_janela SKIP_RETURN_CODE 77)\n")
    endif()
  endforeach()
  if(NOT _codigo EQUAL 0 OR _registros STREQUAL "")
    # A suite that cannot list its tests must not pass as one without tests.
    add_test(windows.janela.listagem bash -c [[printf '%s\n' "$0" >&2; exit 1]]
      "${JANELA_EXE} --gtest_list_tests terminou com ${_codigo} sem listar testes:\n${_saida}${_erros}")
    return()
  endif()
  file(WRITE "${JANELA_LISTA}" "${_registros}")
endif()
include("${JANELA_LISTA}")
