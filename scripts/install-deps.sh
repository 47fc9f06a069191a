#!/usr/bin/env bash
# Installs, with apt-get, whatever the build and the tests need that a fresh machine lacks.
set -euo pipefail

# With --build, only what a native build and its tests need; otherwise also the
# AArch64 cross build and its tests under qemu-user, fuzzing (clang, libFuzzer runtime),
# static analysis, the compressed manual page, and the package and install checks
# (lintian, pkg-config). elabel-image reads JSON with json-c: libjson-c-dev natively and,
# for the cross build, libjson-c-dev:arm64 (apt's arm64 architecture is added for it).
build_only=no
[ "${1:-}" = "--build" ] && build_only=yes

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
packages=(cmake g++ make googletest python3 python3-jsonschema libjson-c-dev)
[ "$build_only" = yes ] ||
  packages+=(g++-aarch64-linux-gnu qemu-user-static clang libclang-rt-dev clang-tidy cppcheck gzip lintian pkg-config)
for pkg in "${packages[@]}"; do
  have "$pkg" || need+=("$pkg")
done

if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${need[*]} (run as root or install them)" >&2
    exit 1
  fi
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}"
fi

# --- The cross build's arm64 JSON library --------------------------------------------------
if [ "$build_only" = no ] && ! have libjson-c-dev:arm64; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: libjson-c-dev:arm64 (run as root or install it)" >&2
    exit 1
  fi
  dpkg --print-foreign-architectures | grep -qx arm64 || dpkg --add-architecture arm64
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends libjson-c-dev:arm64
fi

# --- Real-kernel end-to-end test (tests/kernel) ---------------------------------------------
# QEMU for 32-bit ARM, the armhf cross compiler, initramfs tools, apt's armhf architecture and
# json-c for the guest's elabel-image:
# the test itself downloads Debian's armhf kernel and busybox-static into the build tree.
# Without root nothing is changed here; that test then skips and says why.
[ "$build_only" = yes ] && exit 0

kernel_need=()
for pkg in qemu-system-arm g++-arm-linux-gnueabihf cpio kmod libjson-c-dev:armhf; do
  have "$pkg" || kernel_need+=("$pkg")
done
kernel_arch=yes
dpkg --print-foreign-architectures | grep -qx armhf || kernel_arch=no
if [ ${#kernel_need[@]} -gt 0 ] || [ "$kernel_arch" = no ] ||
   ! apt-cache show busybox-static:armhf >/dev/null 2>&1; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "kernel test: needs root to install ${kernel_need[*]:-} and set up armhf; it will skip" >&2
  else
    [ "$kernel_arch" = yes ] || dpkg --add-architecture armhf
    apt-get update -q
    if [ ${#kernel_need[@]} -gt 0 ]; then
      DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${kernel_need[@]}"
    fi
  fi
fi
