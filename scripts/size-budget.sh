#!/usr/bin/env bash
# Prints text + data of `elabel` and of the project libraries it loads, and
# fails when their sum is over the budget (64 KiB unless LIMIT is given).
# `elabel-image` is reported beside it, with its own total against its own
# budget (IMAGE_LIMIT): 89011 bytes measured on AArch64 with board reads,
# records, set, output files, dry runs, templates, publishing, the result
# line and the kernel driver's path, plus a tenth.
#   scripts/size-budget.sh [build-dir]      (SIZE=<size tool> to choose the tool)
set -euo pipefail

build=${1:-build-aarch64}
limit=${LIMIT:-65536}
image_limit=${IMAGE_LIMIT:-97912}
elabel=$build/src/app/elabel/elabel
image=$build/src/app/elabel-image/elabel-image
for f in "$elabel" "$image"; do
  [ -f "$f" ] || { echo "no $f: build first" >&2; exit 2; }
done

if [ -z "${SIZE:-}" ]; then
  SIZE=size
  if readelf -h "$elabel" | grep -q 'AArch64' && command -v aarch64-linux-gnu-size >/dev/null; then
    SIZE=aarch64-linux-gnu-size
  fi
fi

# The program and the project libraries it loads.
files_of() {
  echo "$1"
  for lib in $(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    case $lib in
      libsecurec.so) echo "$build/src/platform/securec/libsecurec.so" ;;
      libquellix.so) echo "$build/lib/libquellix.so" ;;
      libelabel.so*) echo "$build/src/app/elabel/$lib" ;;
    esac
  done
}

declare -A sizes
printf '%-18s %8s %8s %8s %10s\n' file text data bss text+data
for f in $( (files_of "$elabel"; files_of "$image") | awk '!seen[$0]++'); do
  read -r text data bss _ < <("$SIZE" -B "$f" | tail -n 1)
  printf '%-18s %8d %8d %8d %10d\n' "$(basename "$f")" "$text" "$data" "$bss" $((text + data))
  sizes[$f]=$((text + data))
done

machine=$(readelf -h "$elabel" | sed -n 's/.*Machine: *//p')
over=0
for program in "$elabel" "$image"; do
  budget=$limit
  [ "$program" = "$image" ] && budget=$image_limit
  total=0
  for f in $(files_of "$program"); do
    total=$((total + sizes[$f]))
  done
  printf '%-18s %8s %8s %8s %10d  (budget %d, %s)\n' "total $(basename "$program")" '' '' '' \
    "$total" "$budget" "$machine"
  if [ "$total" -gt "$budget" ]; then
    echo "$(basename "$program") over budget by $((total - budget)) bytes" >&2
    over=1
  fi
done
exit "$over"
