#!/bin/sh
# cli_wine_test.sh QM880CTL.EXE: qm880ctl.exe under Wine against qm880-sim, which
# run-with-sim.sh has linked as COM$KELTA_SIM_PORT of the prefix (it runs this script
# in place of wine-run; KELTA_WINE_RUN names the real one). Stores in the prefix's
# registry and removes the key again. Each line it prints says how long the run took.
set -u
[ "${1:-}" = --init ] && exec "$KELTA_WINE_RUN" --init
exe=$1 port=$KELTA_SIM_PORT
status=0
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

# run WANT_CODE WANT_TEXT ARGS...: runs qm880ctl.exe with ARGS; its exit code must be
# WANT_CODE and its output (standard output and error) must hold WANT_TEXT.
run() {
  want_code=$1 want_text=$2
  shift 2
  started=$(date +%s%N)
  "$KELTA_WINE_RUN" "$exe" "$@" >"$out" 2>"$err"
  code=$?
  took=$((($(date +%s%N) - started) / 1000000))
  if [ "$code" != "$want_code" ] || ! cat "$out" "$err" | tr -d '\r' | grep -qF -- "$want_text"; then
    printf 'FAILED: qm880ctl %s gave %s (want %s and "%s"):\n' "$*" "$code" "$want_code" "$want_text"
    cat "$out" "$err"
    status=1
  else
    printf 'ok: qm880ctl %s (%s ms)\n' "$*" "$took"
  fi
}

reg_delete() {
  "$KELTA_WINE_RUN" reg delete 'HKLM\Software\KELTA\ReaderConfig' /f >/dev/null 2>&1
}
reg_delete

run 0 "qm880ctl " --version
run 2 'ID: must be a whole number from 1 to 99, got "0"' set-id 0
# The walk over COM1 to COM16 with nothing stored. The prefix's COM ports are pinned
# (wine-run): those without a simulator open on Wine's own serial device, which has
# nothing behind it, and stay silent; the reader is found on its port. At a mode the
# simulator does not answer, every port is tried and the walk ends.
run 0 "S/N : $KELTA_SIM_SERIAL" --no-store scan
run 3 "Reader Not Find" --no-store --mode 9600,n,8,1 scan
run 0 "COM16  \\\\.\\COM16  free" ports
run 0 "S/N : $KELTA_SIM_SERIAL" --port "$port" scan
# The place the scan stored, from the registry.
run 0 "VER : $KELTA_SIM_VERSION" info
run 0 "Set Reader ID Ok" set-id 42
run 0 "time,tag,value" read-tags --count 2 --format csv
run 0 "tags 2" read-tags --count 2
run 0 "free" --port "$port" ports
# Above the numbers that Wine maps nothing is there.
run 4 "no such device" --device '\\.\COM300' --no-store scan --explain
run 0 '"serial":"'"$KELTA_SIM_SERIAL"'"' --json --no-store info

reg_delete
exit "$status"
