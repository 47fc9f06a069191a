#!/usr/bin/env bash
# Runs lintian on the given .deb files; fails on any error or warning (overrides in
# the packages themselves still apply).
#   scripts/lint-packages.sh build-aarch64/*.deb build/packages/*.deb
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 PACKAGE.deb..." >&2; exit 2; }
for deb in "$@"; do
  [ -f "$deb" ] || { echo "no package $deb" >&2; exit 1; }
done
echo "lintian: $*"
lintian --fail-on error,warning "$@"
