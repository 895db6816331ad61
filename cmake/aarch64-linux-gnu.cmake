# Cross build for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu; the target's libraries
# live under /usr/aarch64-linux-gnu. Binaries run on the build machine under qemu-user.
#
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(MODEMPREP_TARGET_ROOT /usr/aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Libraries, headers and CMake packages come from the target root only, so that no x86-64 copy
# of a dependency is picked up; programs (python3, the emulator) are the build machine's.
# Packages built for the target elsewhere are named with <Package>_DIR.
set(CMAKE_FIND_ROOT_PATH ${MODEMPREP_TARGET_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Used by CTest and by gtest_discover_tests to run the target's test executables (binfmt need not
# be active); -L makes the dynamic loader and libraries come from the target root.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L ${MODEMPREP_TARGET_ROOT})
