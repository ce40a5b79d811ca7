# Cross build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# Everything is linked statically, so the .exe files run without MinGW's DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TABRESCUE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TABRESCUE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TABRESCUE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TABRESCUE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TABRESCUE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The host has no Windows GoogleTest; the tests build it from the sources Debian ships.
if(NOT DEFINED TABRESCUE_GTEST_SOURCE AND EXISTS /usr/src/googletest/CMakeLists.txt)
  set(TABRESCUE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources built with the project")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR wine CACHE STRING "Runs the Windows programs on this host")
