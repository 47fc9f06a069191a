#!/usr/bin/env bash
# Run by CTest before and after every test run (CTestCustom.cmake): no test may
# leave a trace on the host, in the lock file's /run, the record directory, the
# published label's directory or the system log. Cheap: a few stat calls and
# the log written meanwhile.
#   host-state.sh snapshot|compare STATE_FILE LOCK_FILE RECORD_DIR [PUBLISH_DIR]
set -uo pipefail
action=$1 state=$2 lock=$3 record_dir=$4 publish_dir=${5:-}
# The store's log lines begin with its source path; the I2C library's with its name.
marker='\[src/app/elabel|quellix: '
logs=(/var/log/syslog /var/log/messages)

paths() {
  for p in "$lock" "$record_dir" "$record_dir"/* ${publish_dir:+"$publish_dir" "$publish_dir"/*}; do
    if [ -e "$p" ] || [ -L "$p" ]; then
      stat -c '%n %F %i %s %Y' "$p"
    elif [ "${p%\*}" = "$p" ]; then
      echo "$p absent"
    fi
  done
}

# Where the system log stands now: the journal's cursor, each log file's size.
log_marks() {
  journalctl -q -n 0 --show-cursor 2>/dev/null | sed -n 's/^-- cursor: /journal /p'
  for f in "${logs[@]}"; do
    if [ -r "$f" ]; then
      echo "$f $(stat -c %s "$f")"
    fi
  done
}

# Lines of the system log since the marks that came from the store or the I2C library.
new_log_lines() {
  while read -r where mark; do
    if [ "$where" = journal ]; then
      journalctl -q --after-cursor="$mark" -o cat 2>/dev/null
    elif [ "$(stat -c %s "$where" 2>/dev/null || echo 0)" -ge "$mark" ]; then
      tail -c +"$((mark + 1))" "$where"
    fi
  done | grep -E "$marker" || true
}

case $action in
snapshot)
  { paths; echo '--'; log_marks; } >"$state" || exit 1
  ;;
compare)
  [ -f "$state" ] || { echo "host-state.sh: no snapshot $state" >&2; exit 1; }
  before=$(sed '/^--$/,$d' "$state")
  changed=$(diff <(echo "$before") <(paths))
  logged=$(sed '1,/^--$/d' "$state" | new_log_lines)
  rm -f "$state"
  if [ -n "$changed" ] || [ -n "$logged" ]; then
    echo "The tests touched the host:" >&2
    [ -z "$changed" ] || echo "$changed" >&2
    [ -z "$logged" ] || echo "system log lines: $logged" >&2
    exit 1
  fi
  ;;
*)
  echo "usage: host-state.sh snapshot|compare STATE_FILE LOCK_FILE RECORD_DIR [PUBLISH_DIR]" >&2
  exit 2
  ;;
esac
