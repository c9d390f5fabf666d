#!/bin/bash
# udev_rule_test.sh RULES: the rules that set ID_MM_DEVICE_IGNORE, matched key by key as udev
# does (udevadm test needs the device in sysfs), tag the converters and leave modems alone.
set -u
rules=$(grep -v '^#' "$1" | grep ID_MM_DEVICE_IGNORE) || exit 1
failed=0
for d in "1 ttyUSB0 ftdi_sio" "1 ttyUSB1 cp210x" "1 ttyUSB2 ch341" "1 ttyUSB3 pl2303" \
  "0 ttyUSB4 option" "0 ttyUSB5 qcserial" "0 ttyACM0 cdc_acm"; do
  read -r want kernel driver <<<"$d"
  declare -A have=([ACTION]=add [SUBSYSTEM]=tty [KERNEL]=$kernel [DRIVERS]=$driver)
  got=0
  while IFS= read -r rule; do
    all=1
    while [[ $rule =~ ([A-Z]+)==\"([^\"]*)\"(.*) ]]; do
      key=${BASH_REMATCH[1]} rule=${BASH_REMATCH[3]}
      [ -n "${have[$key]+x}" ] || { echo "a match key this test cannot judge: $key"; exit 1; }
      # udev's patterns: alternatives split by |, each a shell glob.
      IFS='|' read -ra alts <<<"${BASH_REMATCH[2]}"
      hit=0
      for a in "${alts[@]}"; do [[ ${have[$key]} == $a ]] && hit=1; done
      [ "$hit" = 1 ] || all=0
    done
    [ "$all" = 1 ] && got=1
  done <<<"$rules"
  [ "$got" = "$want" ] || { echo "$kernel ($driver): tagged $got, should be $want"; failed=1; }
done
exit "$failed"
