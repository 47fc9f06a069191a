#!/usr/bin/env bash
# Builds the consumer program against an installed tree, then runs it on the simulator.
#   run.sh pkg-config|cmake BUILD LIBDIR RECORD_PARENT CC SYSLOG_SHIM [TOOLCHAIN_FILE [EMULATOR]]
# Installs BUILD into a scratch DESTDIR (prefix /usr) and builds consumer.c through
# pkg-config or find_package(elabel); a cross build sees the DESTDIR as one more sysroot.
# Then, as root in a private mount namespace with its own /run and RECORD_PARENT, runs
# it on a blank simulated EEPROM: the text it stores must come back and be in the image.
# SYSLOG_SHIM, preloaded, takes the store's log lines instead of the system log.
# Exits 77 (skipped) after the build when not root.
set -euo pipefail
mode=$1 build=$2 libdir=$3 record_parent=$4 cc=$5 shim=$6 toolchain=${7:-} emulator=${8:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$build/consumer-$mode
stage=$work/stage
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null

case $mode in
pkg-config)
  export PKG_CONFIG_LIBDIR=$stage/usr/$libdir/pkgconfig
  [ -z "$toolchain" ] || export PKG_CONFIG_SYSROOT_DIR=$stage
  flags=$(pkg-config --cflags --libs elabel) || fail "pkg-config does not know elabel"
  # shellcheck disable=SC2086
  "$cc" -Wall -Wextra -Werror -o "$work/consumer" "$here/consumer.c" $flags
  ;;
cmake)
  args=(-DCMAKE_C_COMPILER="$cc" -DCMAKE_PREFIX_PATH="$stage/usr")
  if [ -n "$toolchain" ]; then
    printf 'include("%s")\nlist(APPEND CMAKE_FIND_ROOT_PATH "%s")\n' "$toolchain" "$stage" \
      >"$work/toolchain.cmake"
    args=(-DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" -DCMAKE_PREFIX_PATH=/usr)
  fi
  cmake -S "$here" -B "$work/build" "${args[@]}" >/dev/null
  cmake --build "$work/build" >/dev/null
  cp "$work/build/consumer" "$work/consumer"
  ;;
*) fail "unknown route $mode" ;;
esac

readelf -d "$work/consumer" | grep -q 'NEEDED.*\[libelabel\.so\.1\]' ||
  fail "the consumer does not load libelabel.so.1"
if [ "$(id -u)" -ne 0 ]; then
  echo "built; running needs root for a private /run and $record_parent"
  exit 77
fi

image=$work/eeprom.bin
log=$work/syslog
text="consumer via $mode"
# shellcheck disable=SC2016
out=$(unshare -m --propagation private sh -c '
  mount -t tmpfs -o mode=0755 elabel-consumer /run &&
  mount -t tmpfs -o mode=0755 elabel-consumer "$1" && shift && exec "$@"' sh "$record_parent" \
  env LD_LIBRARY_PATH="$build/sim:$stage/usr/$libdir" QUELLIX_SIM_IMAGE="$image" \
  LD_PRELOAD="$shim" ELABEL_TEST_SYSLOG="$log" \
  $emulator "$work/consumer" "$text") || fail "the consumer failed: $out"
echo "$out"
[[ $out == "item "*": $text" ]] || fail "read back: $out"
grep -qaF "$text" "$image" || fail "the text is not in the simulated EEPROM"
# The blank chip's load logs; those lines went to the capture, not the system log.
[ -s "$log" ] || fail "the store's log lines were not captured"
