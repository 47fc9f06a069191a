#!/bin/sh
# Runs an AArch64 program under the statically linked qemu-user: the cross build's
# CMAKE_CROSSCOMPILING_EMULATOR, and the emulator through which the end-to-end
# tests start the production binary (ELABEL_TEST_EMULATOR, set here for them).
#   qemu-aarch64-run.sh [-E NAME=VALUE]... program [args...]
# The -E settings become ordinary environment variables rather than qemu's own -E,
# which splits values at commas. A static qemu has no loader of its own, so
# LD_PRELOAD and LD_LIBRARY_PATH reach only the emulated program.
set -e
while [ "$#" -ge 2 ] && [ "$1" = "-E" ]; do
  export "$2"
  shift 2
done
if [ -z "${ELABEL_TEST_EMULATOR:-}" ]; then
  ELABEL_TEST_EMULATOR=$(readlink -f "$0")
  export ELABEL_TEST_EMULATOR
fi
prefix=${QEMU_LD_PREFIX:-/usr/aarch64-linux-gnu}
# The cross toolchain's C and C++ runtime first: its loader must not meet the C library of
# Debian's arm64 packages (installed for json-c in /lib/aarch64-linux-gnu), a slightly other
# build of the same version, which hangs a forking program.
LD_LIBRARY_PATH=${LD_LIBRARY_PATH:+$LD_LIBRARY_PATH:}$prefix/lib
export LD_LIBRARY_PATH
exec qemu-aarch64-static -L "$prefix" "$@"
