#!/bin/bash
# udev_rule_test.sh RULES: the rules that set ID_MM_DEVICE_IGNORE, read key by key as udev
# matches them, tag the reader's USB serial converters and leave a gateway's modems alone.
# (udevadm test needs the device in sysfs, and udevadm verify is not in every udev.)
set -u
# A device as udev sees it on "add": ACTION SUBSYSTEM KERNEL and the drivers of the devices
# above it (DRIVERS), with the USB IDs (ATTRS).
devices=(
  "tagged ttyUSB0 ftdi_sio 0403 6001"
  "tagged ttyUSB1 cp210x 10c4 ea60"
  "tagged ttyUSB2 ch341 1a86 7523"
  "tagged ttyUSB3 pl2303 067b 2303"
  "left ttyUSB4 option 2c7c 0125"
  "left ttyUSB5 qcserial 1199 9071"
  "left ttyACM0 cdc_acm 1e0e 9001"
)
# True when pattern `$2` (udev's: alternatives split by |, shell globs) matches `$1`.
matches() {
  local alt
  IFS='|' read -ra alts <<<"$2"
  for alt in "${alts[@]}"; do
    # shellcheck disable=SC2053
    [[ $1 == $alt ]] && return 0
  done
  return 1
}
failed=0
lines=$(grep -E 'ID_MM_DEVICE_IGNORE' "$1" | grep -v '^#')
[ -n "$lines" ] || { echo "no rule sets ID_MM_DEVICE_IGNORE"; exit 1; }
for d in "${devices[@]}"; do
  read -r want kernel driver vendor product <<<"$d"
  got=left
  while IFS= read -r rule; do
    all=1
    while [[ $rule =~ ([A-Z]+(\{[a-zA-Z_]+\})?)==\"([^\"]*)\"(.*) ]]; do
      key=${BASH_REMATCH[1]} value=${BASH_REMATCH[3]} rule=${BASH_REMATCH[4]}
      case $key in
        ACTION) have=add ;;
        SUBSYSTEM) have=tty ;;
        KERNEL) have=$kernel ;;
        DRIVERS) have=$driver ;;
        'ATTRS{idVendor}') have=$vendor ;;
        'ATTRS{idProduct}') have=$product ;;
        *) echo "a match key this test cannot judge: $key"; exit 1 ;;
      esac
      matches "$have" "$value" || all=0
    done
    [ "$all" = 1 ] && got=tagged
  done <<<"$lines"
  if [ "$got" != "$want" ]; then
    echo "$kernel ($driver $vendor:$product): $got, should be $want"
    failed=1
  fi
done
[ "$failed" = 0 ] && echo "converters tagged, modems left alone"
exit "$failed"
