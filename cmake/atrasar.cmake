# Windows looks for a DLL that is not one of its known DLLs beside the executable first, at start,
# before main() and the permission check: whoever could create a file in the program folder would
# run code there. Qt for Windows imports several (version, winmm, uxtheme, d3d11...).
#
# kelvane_atrasar_dlls(<target> <lib>=<DLL>...) makes <target> delay-load them instead: each DLL is
# loaded at its first call, from System32 only (PrepararProcesso narrows the search first). For
# each, a delay-import library of every function of MinGW's own lib<lib>.a is written as
# lib<lib>.a into a folder searched before the system's, so every -l<lib> on the link line (Qt's
# own included) takes it.
function(kelvane_atrasar_dlls alvo)
  set(pasta ${CMAKE_CURRENT_BINARY_DIR}/atrasadas-${alvo})
  file(MAKE_DIRECTORY ${pasta})
  set(saidas)
  foreach(par IN LISTS ARGN)
    string(REPLACE "=" ";" par "${par}")
    list(GET par 0 lib)
    list(GET par 1 dll)
    find_library(KELVANE_IMPORTACAO_${lib} NAMES lib${lib}.a REQUIRED NO_CACHE)
    execute_process(COMMAND ${CMAKE_NM} -g ${KELVANE_IMPORTACAO_${lib}}
      OUTPUT_VARIABLE simbolos COMMAND_ERROR_IS_FATAL ANY)
    # Functions only ("T" beside their "__imp_"): data cannot be delay-loaded.
    string(REGEX MATCHALL "[0-9a-f]+ T [A-Za-z0-9_]+" funcoes "${simbolos}")
    list(TRANSFORM funcoes REPLACE "^[0-9a-f]+ T " "")
    list(REMOVE_DUPLICATES funcoes)
    list(JOIN funcoes "\n" exportacoes)
    file(WRITE ${pasta}/${lib}.def "LIBRARY ${dll}\nEXPORTS\n${exportacoes}\n")
    add_custom_command(OUTPUT ${pasta}/lib${lib}.a
      COMMAND ${CMAKE_DLLTOOL} -d ${pasta}/${lib}.def -D ${dll} -y ${pasta}/lib${lib}.a
      DEPENDS ${pasta}/${lib}.def VERBATIM)
    list(APPEND saidas ${pasta}/lib${lib}.a)
  endforeach()
  add_custom_target(${alvo}_dlls_atrasadas DEPENDS ${saidas})
  add_dependencies(${alvo} ${alvo}_dlls_atrasadas)
  target_link_directories(${alvo} BEFORE PRIVATE ${pasta})
endfunction()
