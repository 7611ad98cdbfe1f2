# SPDX-License-Identifier: MIT
# Cross-compiles for 64-bit Windows with Debian's MinGW-w64. The POSIX
# thread model gives the C++ library its threads (GoogleTest wants them);
# linking statically puts that and the GCC and C++ runtimes into the
# program, so that the only DLL shipped beside it is SDL's (named by its
# full path, so -static leaves it an import).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# SDL 1.2 cross-built by tools/sdlmingw.sh: FindSDL looks in SDLDIR.
if(DEFINED ENV{SDLDIR})
  list(APPEND CMAKE_FIND_ROOT_PATH $ENV{SDLDIR})
endif()
