#!/bin/sh
# cli_wine_test.sh QM880CTL.EXE: qm880ctl.exe under Wine against qm880-sim, which
# run-with-sim.sh has linked as COM$KELTA_SIM_PORT of the prefix (it runs this script
# in place of wine-run; KELTA_WINE_RUN names the real one). Stores in the prefix's
# registry and removes the key again.
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
  "$KELTA_WINE_RUN" "$exe" "$@" >"$out" 2>"$err"
  code=$?
  if [ "$code" != "$want_code" ] || ! cat "$out" "$err" | tr -d '\r' | grep -qF -- "$want_text"; then
    echo "FAILED: qm880ctl $* gave $code (want $want_code and \"$want_text\"):"
    cat "$out" "$err"
    status=1
  else
    echo "ok: qm880ctl $*"
  fi
}

reg_delete() {
  "$KELTA_WINE_RUN" reg delete 'HKLM\Software\KELTA\ReaderConfig' /f >/dev/null 2>&1
}
reg_delete

run 0 "qm880ctl " --version
run 2 'ID: must be a whole number from 1 to 99, got "0"' set-id 0
run 0 "S/N : $KELTA_SIM_SERIAL" --port "$port" scan
# The place the scan stored, from the registry.
run 0 "VER : $KELTA_SIM_VERSION" info
run 0 "Set Reader ID Ok" set-id 42
run 0 "time,tag,value" read-tags --count 2 --format csv
run 0 "tags 2" read-tags --count 2
# Only the simulator's port: ports opens each port it lists to tell free from busy, and
# the prefix's low numbers lead to the host's serial ports.
run 0 "free" --port "$port" ports
run 4 "no such device" --port 16 --no-store scan --explain
run 0 '"serial":"'"$KELTA_SIM_SERIAL"'"' --json --no-store info

reg_delete
exit "$status"
