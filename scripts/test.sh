#!/usr/bin/env bash
# Builds everything and runs every test suite; exits non-zero when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
trap 'echo "== test command ran $((SECONDS / 60)) min $((SECONDS % 60)) s"' EXIT
# Every tree is configured afresh (--fresh), so a cache left by an earlier run changes nothing.
werror=-DELABEL_WERROR=ON

echo "== native build and tests"
cmake --fresh -S . -B build $werror
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --output-on-failure -LE kernel

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake --fresh -S . -B build-sanitize $werror -DELABEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
cmake --build build-sanitize -j"$jobs"
ctest --test-dir build-sanitize -j"$jobs" --output-on-failure -LE kernel

echo "== AArch64 cross build, tests under qemu-user, arm64 and amd64 packages and lintian, size budget"
cmake --workflow --preset aarch64 --fresh
cpack -G DEB --config build/CPackConfig.cmake -B build/packages
scripts/lint-packages.sh build-aarch64/*.deb build/packages/*.deb
scripts/size-budget.sh build-aarch64

echo "== static analysis: clang-tidy and cppcheck"
cmake --fresh --preset fuzz >/dev/null
scripts/static-analysis.sh build-fuzz

echo "== fuzz smoke runs (libFuzzer with AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake --workflow --preset fuzz

# Kept last and run once: boots a QEMU guest (about a minute). Verbose, so that every check,
# or the reason for a skip (no QEMU or armhf packages), shows in the log.
echo "== real-kernel end-to-end test (QEMU, armhf)"
ctest --test-dir build -L kernel --output-on-failure -V
