# SPDX-License-Identifier: MIT
# Cross-compiles for another Debian architecture with Debian's cross
# compiler, against that architecture's packages unpacked into a folder
# (tests/emulated/sysroot.sh makes one), and runs what it builds under
# qemu-user there:
#   -DCMAKE_TOOLCHAIN_FILE=cmake/debian-sysroot.cmake
#   -DGLOWLATTICE_TRIPLET=aarch64-linux-gnu -DGLOWLATTICE_SYSROOT=DIR
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES GLOWLATTICE_TRIPLET GLOWLATTICE_SYSROOT)
string(REGEX REPLACE "-.*" "" cpu "${GLOWLATTICE_TRIPLET}")
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${cpu})
set(CMAKE_C_COMPILER ${GLOWLATTICE_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${GLOWLATTICE_TRIPLET}-g++)
set(CMAKE_SYSROOT ${GLOWLATTICE_SYSROOT})
set(CMAKE_LIBRARY_ARCHITECTURE ${GLOWLATTICE_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${cpu}-static -L ${GLOWLATTICE_SYSROOT})
