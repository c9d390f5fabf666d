#!/usr/bin/env bash
# The Windows program as an operator uses it, under Wine on a virtual display, against
# the reader simulator on a pseudo-terminal linked as the prefix's COM3:
#   exe-e2e.sh SIM WINE_RUN FOLDER GRAB [SHOT]
# SIM the native qm880-sim, FOLDER the deployed program's folder (its qm880-config.exe
# runs with nothing but that folder and Wine: no WINEPATH), GRAB the native
# qm880-grab-screen, SHOT where a screenshot of the window reading tags goes.
# Scan Reader (Enter), Read TAG until tags come, a screenshot, Read TAG again to cancel,
# Alt+F4 (refused), the 繁體 button, Exit; then the simulator's trace must show the
# probe, the version query and tag polls answered, and the prefix's registry the four
# settings. KELTA_WINE_DPI=192 runs it all on a screen scaled to 200 % (Wine's
# LogPixels), where Qt scales the window twice.
set -euo pipefail
sim=$1 wine_run=$2 folder=$3 grab=$4 shot=${5:-}
dpi=${KELTA_WINE_DPI:-96}
scale=$((dpi / 96))
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "exe-e2e: FAILED: $*" >&2; exit 1; }
say() { echo "exe-e2e: $*"; }
for exe in "$sim" "$grab" "$folder/qm880-config.exe"; do
  [ -e "$exe" ] || fail "$exe is missing"
done

# shellcheck source=wine-display.sh
. "$here/wine-display.sh"
trace=$(mktemp "${TMPDIR:-/tmp}/kelta-e2e-trace.XXXXXX")
pids=()
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  wine_display_stop
  rm -f "$trace"
}
trap cleanup EXIT
unset KELTA_WINE_ENV WINEPATH
wine_display_start "$wine_run" e2e "$((1024 * scale))x$((768 * scale))x24" ||
  fail "no Wine prefix on a display"
if [ "$dpi" != 96 ]; then
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
    </dev/null >/dev/null 2>&1
  wineserver -k && wineserver -w  # read again by the next start
fi

wait_for_trace() {  # PATTERN SECONDS [FROM]: PATTERN in the trace after line FROM
  local pattern=$1 seconds=$2 from=${3:-0} i
  for ((i = 0; i < seconds * 10; i++)); do
    tail -n "+$((from + 1))" "$trace" | grep -Eq -- "$pattern" && return 0
    sleep 0.1
  done
  return 1
}
lines() { wc -l <"$trace"; }

# The reader on COM3, where the prefix's pins lead (wine-run); COM1 and COM2, which the
# scan walks first, lead to nothing.
"$sim" --link "$WINEPREFIX/ports/com3" --serial QM880042 --id 07 --version V2.10.04 \
  --tag 000004D2:2 --tag 00BC614E:3 >"$trace" 2>&1 &
pids+=($!)
wait_for_trace ' ready$' 10 || fail "qm880-sim did not get ready: $(cat "$trace")"

started=$(date +%s%N)
(cd "$folder" && exec wine ./qm880-config.exe </dev/null >/dev/null 2>&1) &
program=$!
pids+=("$program")
window=$(wine_display_find_window qm880-config) ||
  fail "the window did not appear"
say "window shown $(( ($(date +%s%N) - started) / 1000000 )) ms after start"
sleep 1  # painted
# The X window holds the whole frame: equal borders left, right and below, the title
# bar above. The client area's top-left corner is where the layout's places start.
eval "$(xdotool getwindowgeometry --shell "$window")"
border=$(( (WIDTH - 659 * scale) / 2 ))
left=$((X + border)) top=$((Y + HEIGHT - 541 * scale - border))
press() {
  xdotool mousemove "$((left + ($1 + $3 / 2) * scale))" "$((top + ($2 + $4 / 2) * scale))" click 1
}
read_tag=(8 464 345 33)

# Scan Reader is the default button: Enter presses it.
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus "$window" || true
xdotool key Return
wait_for_trace '-> 0A 56 ' 60 || fail "the scan did not read the version: $(tail -n 5 "$trace")"
grep -q -- '<- 09 41 30 30 42 ' "$trace" || fail "no probe (A00B) in the trace"
grep -q -- '-> 0A 42 ' "$trace" || fail "the probe was not answered"
sleep 1
from=$(lines)
press "${read_tag[@]}"
wait_for_trace '-> 0A 46 3. 3. 30 31 ' 20 "$from" || fail "no tag was read"
sleep 2
if [ -n "$shot" ]; then
  mkdir -p "$(dirname "$shot")"
  "$grab" "$shot" "$X" "$Y" "$WIDTH" "$HEIGHT" 2>/dev/null || fail "cannot save $shot"
  say "screenshot $shot"
fi
press "${read_tag[@]}"  # Cancel Read TAG
sleep 1
polls=$(grep -c -- '<- 09 41 30 30 46 ' "$trace")
sleep 1
[ "$(grep -c -- '<- 09 41 30 30 46 ' "$trace")" -eq "$polls" ] || fail "tag reading went on"
say "$polls tag polls, $(grep -c -- '-> 0A 46 3. 3. 30 31 ' "$trace") answered with a tag"

xdotool key alt+F4
sleep 1
kill -0 "$program" 2>/dev/null || fail "Alt+F4 closed the window"
press 560 432 89 24  # 繁體: stores the language
sleep 1
press 360 464 289 33  # Exit
for ((i = 0; i < 100; i++)); do
  kill -0 "$program" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$program" 2>/dev/null && fail "Exit did not end the program"
say "Exit ended the program"

# The settings, where a scan that walked the ports and the language button left them.
query=$(wine reg query 'HKLM\Software\KELTA\ReaderConfig' </dev/null 2>&1 | tr -d '\r')
echo "$query"
for value in 'ScanCommNo +REG_DWORD +0x3' 'ScanBaudRateNo +REG_DWORD +0x5' \
  'ScanBaudRate +REG_SZ +19200,e,8,1' 'LanguageFlag +REG_SZ +ChineseBIG5'; do
  grep -Eq "^ +$value\$" <<<"$query" || fail "not in the registry: $value"
done

# Once the simulator is gone (it takes its link along), every COM port of the prefix
# still leads where its pin does, inside the prefix.
kill "${pids[0]}" 2>/dev/null || true
wait "${pids[0]}" 2>/dev/null || true
"$here/check-wine-ports.sh" --prefix "$WINEPREFIX" || fail "a COM port leads out of the prefix"
say "passed"
