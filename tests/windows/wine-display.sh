# shellcheck shell=bash
# Sourced by the tests that show real windows under Wine (bash): a Wine prefix of their
# own, a fresh copy made by wine-run, on a virtual X display of its own (Xvfb picks a
# free one). wine_display_stop ends that prefix's Wine and the display and removes the
# prefix.
#   wine_display_start WINE_RUN NAME [SCREEN]   prefix <build>/wineprefix-NAME
wine_display_start() {
  local wine_run=$1 name=$2 screen=${3:-1024x768x24} build i
  build=$(pwd)
  while [ "$build" != / ] && [ ! -f "$build/CMakeCache.txt" ]; do build=$(dirname "$build"); done
  wd_tmp=$(mktemp -d "${TMPDIR:-/tmp}/kelta-wine-display.XXXXXX")
  export WINEPREFIX="$build/wineprefix-$name"
  "$wine_run" --copy "$WINEPREFIX" || return 1
  export WINEDEBUG="${WINEDEBUG:--all}"
  # No Mono or Gecko installer (its dialog would wait for ever), and no menu builder: it
  # would copy an installer's shortcuts into the host's desktop menus.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$wd_tmp/display" \
    2>"$wd_tmp/xvfb.log" </dev/null &
  wd_xvfb=$!
  for ((i = 0; i < 100; i++)); do
    [ -s "$wd_tmp/display" ] && break
    sleep 0.1
  done
  if [ ! -s "$wd_tmp/display" ]; then
    echo "wine-display: Xvfb did not start: $(cat "$wd_tmp/xvfb.log")" >&2
    return 1
  fi
  DISPLAY=":$(head -n 1 "$wd_tmp/display")"
  export DISPLAY
  # There is no window manager: Wine draws the windows' frames (title bar, buttons)
  # itself, as Windows does, and the X window holds the whole frame.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f \
    </dev/null >/dev/null 2>&1
}

wine_display_stop() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
  wineserver -w </dev/null >/dev/null 2>&1 || true
  if [ -n "${wd_xvfb:-}" ]; then
    kill "$wd_xvfb" 2>/dev/null || true
    wait "$wd_xvfb" 2>/dev/null || true
    wd_xvfb=
  fi
  [ -n "${wd_tmp:-}" ] && rm -rf "$wd_tmp"
  [ -n "${WINEPREFIX:-}" ] && rm -rf "$WINEPREFIX"
  return 0
}

# The first visible window of class $1, waiting up to 60 s. xdotool walks the window tree
# and dies of an X error when a window goes away under it, as Wine's windows do while a
# program starts, so a walk that fails is tried again until the deadline.
wine_display_find_window() {
  local deadline=$((SECONDS + 60)) found
  while ((SECONDS < deadline)); do
    found=$(xdotool search --onlyvisible --class "$1" 2>/dev/null | head -n 1) || true
    if [ -n "$found" ]; then
      echo "$found"
      return 0
    fi
    sleep 0.1
  done
  return 1
}
