# Cross-build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DKELVANE_JANELA=OFF
# With the window, Qt for Windows from scripts/qt_windows.sh (its folder: KELVANE_QT_WINDOWS in
# scripts/ambiente_windows.sh):
#   ... -DCMAKE_PREFIX_PATH=/var/cache/kelvane/qt6-windows
# scripts/preparar_windows.sh installs it, and Wine to run what it builds.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_kelvane_alvo x86_64-w64-mingw32)
# The posix thread model: GCC 12's win32 model has no std::thread, std::mutex or
# std::condition_variable. Named explicitly, whatever the alternatives point at.
set(CMAKE_C_COMPILER ${_kelvane_alvo}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_kelvane_alvo}-g++-posix)
set(CMAKE_RC_COMPILER ${_kelvane_alvo}-windres)

# Headers and libraries (ODBC's among them: sql.h, libodbc32.a) only from the MinGW tree; programs
# from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${_kelvane_alvo})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# A prefix given with -DCMAKE_PREFIX_PATH holds Windows libraries too (Qt for Windows, built by
# scripts/qt_windows.sh): searched where it is, not inside the MinGW tree.
list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH})

# Static runtime: libstdc++, libgcc and winpthread go into each binary, which then needs only
# Windows' own DLLs and can be copied alone to a machine.
foreach(_tipo EXE SHARED MODULE)
  set(CMAKE_${_tipo}_LINKER_FLAGS_INIT "-static")
endforeach()
# CMake ends a library it found by full path (libodbc32.a) with -Wl,-Bdynamic, which would send
# the runtime libraries that g++ adds last to their DLLs after all.
set(CMAKE_LINK_SEARCH_END_STATIC ON)

# What the build runs (tests, try_run) runs under Wine; see scripts/ambiente_windows.sh for the
# prefix and the wineserver to start first.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
