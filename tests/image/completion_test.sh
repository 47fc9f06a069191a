#!/usr/bin/env bash
# The bash completions of both tools: what command lines complete to, and their
# item lists and each command's options against elabel-image itself.
#   completion_test.sh COMPLETIONS_DIR ELABEL_IMAGE [EMULATOR]
# EMULATOR runs a cross-built elabel-image (qemu-user).
set -uo pipefail
export LC_ALL=C
dir=$(realpath "$1") image=$(realpath "$2") emulator=${3:-}
run_image() { ${emulator:+"$emulator"} "$image" "$@"; }
# shellcheck source=/dev/null
source "$dir/elabel" && source "$dir/elabel-image" || exit 1
# shellcheck disable=SC2317  # called by the completions
compopt() { :; }
failures=0
expect() { [ "$2" = "$3" ] || { echo "FAIL: $1: got '$2', want '$3'" >&2; failures=$((failures + 1)); }; }

# What a command line completes to, sorted, on one line.
completions() {
  COMP_LINE=$2 COMP_POINT=${#2}
  read -ra COMP_WORDS <<<"$2"
  [[ $2 =~ [[:space:]]$ ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMPREPLY=()
  "$1"
  printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' '
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" && touch board.bin bench.json || exit 1
while IFS='|' read -r fn line want; do
  expect "'$line'" "$(completions "$fn" "$line")" "$want"
done <<'CASES'
_elabel|elabel g|get getall
_elabel|elabel set 0x2|
_elabel_image|elabel-image s|set show
_elabel_image|elabel-image program --|--dry-run --help --offset
_elabel_image|elabel-image show --json b|bench.json board board.bin
_elabel_image|elabel-image build -o b|bench.json board.bin
_elabel_image|elabel-image show --item prd_s|prd_serial_num
_elabel_image|elabel-image build --require 12,bd_s|12,bd_serial_num
_elabel_image|elabel-image set --from f.bin prd_n|prd_name prd_name=
_elabel_image|elabel-image build 0x6|0x60= 0x61= 0x62= 0x63= 0x64= 0x65= 0x66= 0x67= 0x68=
_elabel_image|elabel-image set 30=AC|
CASES

# The items, in the label's order, as elabel-image shows them; elabel sets 0x30 to 0x68.
run_image build -o label.bin || exit 1
shown=$(run_image show label.bin | awk 'NR > 2 { print $1, $2 }')
# shellcheck disable=SC2154,SC2086  # the lists come from the completion, split into words
expect "items" "$(paste -d' ' <(printf '%s\n' $_elabel_image_ids) <(printf '%s\n' $_elabel_image_names))" "$shown"
expect "elabel get" "$(completions _elabel 'elabel get ')" "$(awk '{ print $1 }' <<<"$shown" | sort | paste -sd' ')"
expect "elabel set" "$(completions _elabel 'elabel set ')" \
  "$(awk '$1 >= "0x30" && $1 <= "0x68" { print $1 }' <<<"$shown" | sort | paste -sd' ')"

# Each command's options: completed exactly when elabel-image takes them.
for command in show check diff build dump program set recover extract; do
  for option in --json --template --offset --item --raw -o --from --require --eeprom-size \
    --dry-run --replaced; do
    arg=$option=30
    case $option in
    --template | --raw | --dry-run | --replaced) arg=$option ;;
    --json) [ "$command" = show ] && arg=$option ;;
    -o) arg=-ox ;;
    esac
    run_image "$command" "$arg" --help >/dev/null 2>&1 && taken=yes || taken=no
    [[ " $(_elabel_image_options "$command") " == *" $option "* ]] && offered=yes || offered=no
    expect "$command $option taken" "$taken" "$offered"
  done
done
exit $((failures != 0))
