#!/usr/bin/env bash
# The bash completions of both tools: a table of command lines and what they
# complete to, their item lists against elabel-image's own item table, and each
# command's options against what elabel-image accepts.
#   completion_test.sh COMPLETIONS_DIR ELABEL_IMAGE
set -uo pipefail
export LC_ALL=C
dir=$(realpath "$1") image=$(realpath "$2")
# shellcheck source=/dev/null
source "$dir/elabel" && source "$dir/elabel-image" || exit 1
# shellcheck disable=SC2317  # compopt runs from the completions
compopt() { :; }  # only inside a completion run by readline
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# What LINE (ending where the cursor is) completes to, sorted, one line.
completions() {
  local fn=$1 line=$2
  COMP_LINE=$line COMP_POINT=${#line}
  read -ra COMP_WORDS <<<"$line"
  [[ $line =~ [[:space:]]$ ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  "$fn"
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
touch "$tmp/board.bin" "$tmp/bench.json"
cd "$tmp" || exit 1

while IFS='|' read -r fn line want; do
  [ -n "$fn" ] || continue
  got=$(completions "$fn" "$line")
  [ "$got" = "$want" ] || fail "'$line': got '$got', want '$want'"
done <<'CASES'
_elabel|elabel g|get getall
_elabel|elabel get 0x1|0x10 0x11 0x12
_elabel|elabel set 0x2|
_elabel|elabel set 0x5|0x50
_elabel|elabel set 0x6|0x60 0x61 0x62 0x63 0x64 0x65 0x66 0x67 0x68
_elabel|elabel getall |
_elabel_image|elabel-image s|set show
_elabel_image|elabel-image show --|--help --item --json --offset --raw --template
_elabel_image|elabel-image program --|--dry-run --help --offset
_elabel_image|elabel-image recover --|--help
_elabel_image|elabel-image show b|bench.json board board.bin
_elabel_image|elabel-image build -o b|bench.json board.bin
_elabel_image|elabel-image build --from b|bench.json board board.bin
_elabel_image|elabel-image set --json b|bench.json board.bin
_elabel_image|elabel-image show --json b|bench.json board board.bin
_elabel_image|elabel-image show --item prd_s|prd_serial_num
_elabel_image|elabel-image build --require 12,bd_s|12,bd_serial_num
_elabel_image|elabel-image set prd_n|prd_name=
_elabel_image|elabel-image set --from f.bin prd_n|prd_name prd_name=
_elabel_image|elabel-image build 0x6|0x60= 0x61= 0x62= 0x63= 0x64= 0x65= 0x66= 0x67= 0x68=
_elabel_image|elabel-image set 30=AC|
_elabel_image|elabel-image dump |
CASES

# The item lists: elabel-image's items, in the label's order; elabel sets 0x30 to 0x68.
"$image" build -o "$tmp/label.bin" || fail "build"
shown=$("$image" show "$tmp/label.bin" | awk 'NR > 2 { print $1, $2 }')
# shellcheck disable=SC2154  # the lists come from the completion
listed=$(paste -d' ' <(tr -s ' \n' '\n' <<<"$_elabel_image_ids" | grep .) \
  <(tr -s ' \n' '\n' <<<"$_elabel_image_names" | grep .))
[ "$shown" = "$listed" ] || fail "elabel-image's items differ from the completion's: $shown"
ids=$(awk '{ print $1 }' <<<"$shown" | sort | tr '\n' ' ' | sed 's/ $//')
[ "$(completions _elabel 'elabel get ')" = "$ids" ] || fail "elabel get completes other ids"
settable=$(awk '$1 >= "0x30" && $1 <= "0x68" { print $1 }' <<<"$shown" | sort | tr '\n' ' ' | sed 's/ $//')
[ "$(completions _elabel 'elabel set ')" = "$settable" ] || fail "elabel set completes other ids"

# Each command's options: offered exactly when elabel-image takes them.
for command in show check diff build dump program set recover extract; do
  offered=" $(_elabel_image_options "$command") "
  for option in --json --template --offset --item --raw -o --output --from --require \
    --eeprom-size --dry-run --replaced; do
    case $option in
    --json) [ "$command" = show ] && arg=$option || arg=$option=x ;;
    --offset | --eeprom-size | --item | --from | --require) arg=$option=30 ;;
    -o) arg=-ox ;;
    --output) arg=$option=x ;;
    *) arg=$option ;;
    esac
    "$image" "$command" "$arg" --help >/dev/null 2>&1
    taken=$?
    if [[ $offered == *" $option "* ]]; then
      [ $taken -eq 0 ] || fail "$command completes $option, which it does not take"
    else
      [ $taken -ne 0 ] || fail "$command takes $option, which it does not complete"
    fi
  done
done

[ $failures -eq 0 ] && echo "all completions as expected"
exit $((failures != 0))
