#!/bin/bash
# systemd_unit_test.sh UNIT QM880CTL: systemd-analyze verify finds nothing to say about the
# template unit (ExecStart pointed at the build's qm880ctl), nor about an instance escaped
# from a by-id name with + # = @ and ü whose device path stands as the command (%I must give
# it back unescaped); the exposure stays at 2.5 or below. Skipped (77) without systemd-analyze.
set -u
command -v systemd-analyze >/dev/null || { echo "no systemd-analyze"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
name=$(basename "$1")
by_id='usb-KELTA_QM880+2#1=A@B-ü-if00-port0'
mkdir "$dir/by-id" "$dir/instance"
ln -s "$2" "$dir/by-id/$by_id"
sed "s|/usr/bin/qm880ctl|$2|" "$1" >"$dir/$name"
sed "s|/usr/bin/qm880ctl --device /dev/serial/by-id/%I |$dir/by-id/%I |" "$1" >"$dir/instance/$name"
for unit in "$dir/$name" "$dir/instance/$(systemd-escape --template="$name" "$by_id")"; do
  # Warnings (an unknown key, a bad value) do not change the exit status; they name the unit.
  out=$(systemd-analyze verify --man=no "$unit" 2>&1)
  status=$?
  notes=$(grep -F "${name%%@*}@" <<<"$out")
  if [ "$status" != 0 ] || [ -n "$notes" ] || cmp -s "$1" "$dir/instance/$name"; then
    echo "systemd-analyze verify $unit: status $status"
    echo "$out"
    exit 1
  fi
done
exposure=$(systemd-analyze security --offline=true "$dir/$name" 2>&1 |
  sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
echo "verify: nothing to say; exposure $exposure"
awk -v e="${exposure:-9}" 'BEGIN { exit !(e <= 2.5) }'
