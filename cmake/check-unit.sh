#!/usr/bin/env bash
# Checks the recovery unit with systemd-analyze verify, its command pointed at this
# build's program. Exit 77 (skipped) where systemd-analyze is not installed.
#   check-unit.sh UNIT.in ELABEL_IMAGE RECORD_DIR WORK_DIR
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: $0 UNIT.in ELABEL_IMAGE RECORD_DIR WORK_DIR" >&2; exit 2; }
command -v systemd-analyze >/dev/null || { echo "systemd-analyze not found: skipped"; exit 77; }
mkdir -p "$4"
unit=$4/elabel-recover.service
sed -e "s|@ELABEL_IMAGE_PATH@|$2|g" -e "s|@ELABEL_RECORD_DIR@|$3|g" "$1" >"$unit"
if grep -n '@[A-Z_]*@' "$unit"; then
  echo "placeholders left in the unit" >&2
  exit 1
fi
# Only what it says of this unit counts: the host's own units are not ours to judge.
out=$(systemd-analyze verify --man=no "$unit" 2>&1) || { echo "$out"; exit 1; }
if grep -F "elabel-recover.service" <<<"$out"; then
  exit 1
fi
echo "systemd-analyze verify: clean"
