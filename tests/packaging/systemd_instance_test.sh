#!/bin/bash
# systemd_instance_test.sh UNIT QM880CTL: an instance named as the README says, with
# systemd-escape --template, for a by-id name with + # = @ and a non-ASCII letter, leads
# ExecStart to exactly that name under /dev/serial/by-id (the unit uses the unescaped %I);
# and the unit's exposure stays at 2.5 or below. Skipped (77) without systemd-analyze.
set -u
command -v systemd-analyze >/dev/null || { echo "no systemd-analyze"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
template=$(basename "$1")
by_id='usb-KELTA_QM880+2#1=A@B-ü-if00-port0'
# The device path stands as the command itself: verify says so when it is missing, so the
# instance verifies cleanly only when %I gives back the name unescaped.
grep -qF -- '--device /dev/serial/by-id/%I ' "$1" || { echo "ExecStart names no %I device"; exit 1; }
sed "s|/usr/bin/qm880ctl --device /dev/serial/by-id/%I|$dir/by-id/%I|" "$1" >"$dir/$template"
mkdir "$dir/by-id"
ln -s "$2" "$dir/by-id/$by_id"
instance=$(systemd-escape --template="$template" "$by_id")
out=$(systemd-analyze verify --man=no "$dir/$instance" 2>&1)
status=$?
if [ "$status" != 0 ] || grep -qF "${template%%@*}@" <<<"$out"; then
  echo "systemd-analyze verify $instance: status $status"
  echo "$out"
  exit 1
fi
echo "systemd-analyze verify $instance: nothing to say"
exposure=$(systemd-analyze security --offline=true "$dir/$template" 2>&1 |
  sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
echo "exposure $exposure"
[ -n "$exposure" ] && awk -v e="$exposure" 'BEGIN { exit !(e <= 2.5) }'
