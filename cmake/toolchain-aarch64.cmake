# Cross build for the board (64-bit ARM Linux) with Debian's aarch64-linux-gnu toolchain.
# Tests run under qemu-user (qemu-user-static; no binfmt registration needed).
#   cmake --preset aarch64   (or -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(ELABEL_AARCH64_TRIPLE aarch64-linux-gnu)
set(ELABEL_AARCH64_SYSROOT /usr/${ELABEL_AARCH64_TRIPLE})
set(CMAKE_C_COMPILER ${ELABEL_AARCH64_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ELABEL_AARCH64_TRIPLE}-g++)

# The cross C library, and Debian's multiarch arm64 packages (libjson-c-dev:arm64)
# in /usr/lib/aarch64-linux-gnu.
set(CMAKE_FIND_ROOT_PATH ${ELABEL_AARCH64_SYSROOT} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under qemu-user through a small wrapper (see the script).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/qemu-aarch64-run.sh)
