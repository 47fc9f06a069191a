#!/usr/bin/env bash
# Prints text + data of `elabel` and of the project's libraries it loads, and
# fails when their sum is over the budget (64 KiB unless LIMIT is given).
#   scripts/size-budget.sh [build-dir]      (SIZE=<size tool> to choose the tool)
set -euo pipefail

build=${1:-build-aarch64}
limit=${LIMIT:-65536}
elabel=$build/src/app/elabel/elabel
[ -f "$elabel" ] || { echo "no $elabel: build first" >&2; exit 2; }

if [ -z "${SIZE:-}" ]; then
  SIZE=size
  if readelf -h "$elabel" | grep -q 'AArch64' && command -v aarch64-linux-gnu-size >/dev/null; then
    SIZE=aarch64-linux-gnu-size
  fi
fi

needed=$(readelf -d "$elabel" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
files=("$elabel")
for lib in $needed; do
  case $lib in
    libsecurec.so) files+=("$build/src/platform/securec/libsecurec.so") ;;
    libquellix.so) files+=("$build/lib/libquellix.so") ;;
    libelabel.so*) files+=("$build/src/app/elabel/$lib") ;;
  esac
done

printf '%-16s %8s %8s %8s %10s\n' file text data bss text+data
total=0
for f in "${files[@]}"; do
  read -r text data bss _ < <("$SIZE" -B "$f" | tail -n 1)
  printf '%-16s %8d %8d %8d %10d\n' "$(basename "$f")" "$text" "$data" "$bss" $((text + data))
  total=$((total + text + data))
done
printf '%-16s %8s %8s %8s %10d  (budget %d, %s)\n' total '' '' '' "$total" "$limit" \
  "$(readelf -h "$elabel" | sed -n 's/.*Machine: *//p')"

if [ "$total" -gt "$limit" ]; then
  echo "over budget by $((total - limit)) bytes" >&2
  exit 1
fi
