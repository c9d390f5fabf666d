#!/bin/sh
# manpage_test.sh PROGRAM PAGE.gz: the manual page holds every option that the program's
# --help names and every line of its examples, so help2man's reading of --help has lost
# nothing (it fills and merges lines it does not recognise).
set -u
program=$1 page=$2
text=$(gzip -dc "$page" | sed 's/\\-/-/g; s/\\e/\\/g; s/\\&//g; s/\\f[BIRP]//g')
status=0
for option in $("$program" --help | grep -oE '(^|[ [(|])--[a-z][a-z-]*' | grep -oE -- '--[a-z-]+' | sort -u); do
  case "$text" in
    *"$option"*) ;;
    *) echo "$page: no $option"; status=1 ;;
  esac
done
"$program" --help | sed -n '/^Examples:$/,$p' | sed '1d; s/^  //' | while IFS= read -r line; do
  printf '%s\n' "$text" | grep -qxF -- "$line" || { echo "$page: example line missing: $line"; exit 1; }
done || status=1
[ "$status" = 0 ] && echo "$page: every option and example of --help is there"
exit "$status"
