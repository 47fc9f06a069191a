# Cross build for 32-bit ARM Linux (hard float) with Debian's arm-linux-gnueabihf toolchain.
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake -DBUILD_TESTING=OFF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(ELABEL_ARMHF_TRIPLE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${ELABEL_ARMHF_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ELABEL_ARMHF_TRIPLE}-g++)

# The cross C library, and Debian's multiarch armhf packages (libjson-c-dev:armhf).
set(CMAKE_FIND_ROOT_PATH /usr/${ELABEL_ARMHF_TRIPLE} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
