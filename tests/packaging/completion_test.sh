#!/bin/bash
# completion_test.sh SCRIPT: the bash completion that qm880ctl made for itself offers its
# commands, a command's own options after the command, and the values of the short lists.
set -u
# shellcheck disable=SC1090
source "$1" || exit 1
status=0
expect() {  # expect "WORDS TO COMPLETE" "COMPLETIONS"
  read -r -a COMP_WORDS <<<"$1"
  [[ $1 == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _qm880ctl
  if [ "${COMPREPLY[*]}" != "$2" ]; then
    echo "completing '$1': got '${COMPREPLY[*]}', want '$2'"
    status=1
  fi
}
expect "qm880ctl rea" "read-tags"
expect "qm880ctl --port 3 set-o" "set-output"
expect "qm880ctl scan --e" "--every --explain"
expect "qm880ctl set-output --w" "--wiegand"
expect "qm880ctl set-output --rs485 " "24 32 40 64"
expect "qm880ctl read-tags --format " "text csv jsonl"
expect "qm880ctl --lang b" "big5"
expect "qm880ctl set-baud 115" "115200,n,8,1 115200,e,8,1"
expect "qm880ctl info --no-" "--no-store"
expect "qm880ctl commission --dr" "--dry-run"
[ "$status" = 0 ] && echo "$1: completes commands, options and values"
exit "$status"
