#!/bin/sh
# run-with-sim.sh SIM "SIM_OPTIONS" PORT MODE WINE_RUN PROGRAM [ARGS...]
# Starts the native reader simulator (with SIM_OPTIONS, split at blanks) on a
# pseudo-terminal linked into the Wine prefix as COM<PORT> (wine-run pins COMn to the
# prefix's ports/comn), runs the Windows PROGRAM against it through WINE_RUN, and stops
# the simulator again. The program learns the port and mode from KELTA_SIM_PORT and
# KELTA_SIM_MODE.
set -u
sim=$1 sim_options=$2 port=$3 mode=$4 wine_run=$5
shift 5

if [ ! -x "$sim" ]; then
  echo "run-with-sim: no simulator at $sim; build the native one first:" >&2
  echo "  cmake --preset default && cmake --build --preset default --target qm880-sim" >&2
  exit 1
fi

# The same prefix that wine-run picks: the one in the build folder unless
# KELTA_WINEPREFIX names another.
build=$(pwd)
while [ "$build" != / ] && [ ! -f "$build/CMakeCache.txt" ]; do build=$(dirname "$build"); done
export WINEPREFIX="${KELTA_WINEPREFIX:-$build/wineprefix}"
export KELTA_WINEPREFIX="$WINEPREFIX"
# Made, and its COM ports pinned, before anything opens one.
"$wine_run" --init >/dev/null || exit 1

link="$WINEPREFIX/ports/com$port"
work=$(mktemp -d "${TMPDIR:-/tmp}/kelta-win-sim.XXXXXX") || exit 1
sim_pid=
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=
  fi
  # Only our own link goes: a link that now names something else was not ours.
  if [ -L "$link" ] && [ "$(readlink "$link")" = "$(cat "$work/pty" 2>/dev/null)" ]; then
    rm -f "$link"
  fi
}
trap 'stop_sim; rm -rf "$work"; exit 130' INT TERM HUP

rm -f "$link"
# shellcheck disable=SC2086 # the options are meant to be split
"$sim" --link "$link" $sim_options >"$work/sim.log" 2>&1 &
sim_pid=$!

# Ready when it says so and its link is in place.
tries=0
until grep -qi ready "$work/sim.log" 2>/dev/null && [ -L "$link" ]; do
  if ! kill -0 "$sim_pid" 2>/dev/null || [ "$tries" -ge 100 ]; then
    echo "run-with-sim: the simulator did not get ready:" >&2
    cat "$work/sim.log" >&2
    stop_sim
    rm -rf "$work"
    exit 1
  fi
  tries=$((tries + 1))
  sleep 0.1
done
readlink "$link" >"$work/pty"

KELTA_SIM_PORT=$port KELTA_SIM_MODE=$mode "$wine_run" "$@"
status=$?

stop_sim
if [ "$status" -ne 0 ]; then
  echo "--- simulator output ---"
  cat "$work/sim.log"
fi
rm -rf "$work"
exit "$status"
