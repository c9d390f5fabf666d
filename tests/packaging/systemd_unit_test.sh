#!/bin/bash
# systemd_unit_test.sh UNIT QM880CTL: systemd-analyze verify finds nothing to say about the
# template unit, with its ExecStart pointed at the qm880ctl of the build. Skipped (77)
# where systemd-analyze is missing.
set -u
command -v systemd-analyze >/dev/null || { echo "no systemd-analyze"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
name=$(basename "$1")
sed "s|/usr/bin/qm880ctl|$2|" "$1" >"$dir/$name"
# Warnings (an unknown key, a bad value) do not change the exit status; they name the unit.
out=$(systemd-analyze verify --man=no "$dir/$name" 2>&1)
status=$?
notes=$(grep -F "${name%%@*}@" <<<"$out")
if [ "$status" != 0 ] || [ -n "$notes" ]; then
  echo "systemd-analyze verify $name: status $status"
  echo "$out"
  exit 1
fi
echo "systemd-analyze verify $name: nothing to say"
