#!/usr/bin/env bash
# on-display.sh WINE_RUN NAME PROGRAM [ARGS...]: runs a Windows test program under Wine
# with a prefix of its own on a virtual display, so that Qt's windows platform plugin
# makes real Win32 windows (the other test programs run headless, offscreen).
set -uo pipefail
wine_run=$1 name=$2
shift 2
# shellcheck source=wine-display.sh
. "$(dirname "$0")/wine-display.sh"
trap 'wine_display_stop' EXIT
wine_display_start "$wine_run" "$name" || exit 1
# Qt's DLLs and the MinGW runtime, as for every test program (see KeltaTesting.cmake).
# shellcheck disable=SC1090
if [ -n "${KELTA_WINE_ENV:-}" ]; then . "$KELTA_WINE_ENV"; fi
wine "$@" </dev/null
