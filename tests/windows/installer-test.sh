#!/usr/bin/env bash
# The installer under Wine, in a fresh prefix on a virtual display:
#   installer-test.sh WINE_RUN SETUP_EXE
# Silent install; the program's folder, its Start-menu shortcut and its entry in Apps
# (publisher, version, icon) are there; the installed program starts and shows its
# window; installing again over it (as an upgrade does: the old one is uninstalled
# first) leaves one entry; silent uninstall removes the folder, the shortcut and the
# entry.
set -euo pipefail
wine_run=$1 setup=$2
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "installer-test: FAILED: $*" >&2; exit 1; }
say() { echo "installer-test: $*"; }
[ -f "$setup" ] || fail "no installer at $setup"

# shellcheck source=wine-display.sh
. "$here/wine-display.sh"
trap wine_display_stop EXIT
unset KELTA_WINE_ENV WINEPATH
wine_display_start "$wine_run" installer || fail "no Wine prefix on a display"

folder="$WINEPREFIX/drive_c/Program Files/KELTA/Reader Config"
# The installer is a 64-bit one: its Apps entry is in the registry's 64-bit view.
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
entry="$uninstall\\KELTA Reader Config"
shortcuts() { find "$WINEPREFIX/drive_c" -ipath '*start menu*' -iname '*.lnk' | sort; }

install() {
  local started=$SECONDS
  wine "$setup" /S </dev/null >"${TMPDIR:-/tmp}/kelta-setup.log" 2>&1 || fail "the installer failed: $(tail -n 5 "${TMPDIR:-/tmp}/kelta-setup.log")"
  wineserver -w  # the installer may hand over to an uninstaller that runs on
  wine_display_restart_desktop
  say "installed in $((SECONDS - started)) s"
}
# wineserver -w ends the prefix's desktop too: start it again for what follows.
wine_display_restart_desktop() { wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true; }

install
[ -f "$folder/qm880-config.exe" ] || fail "no $folder/qm880-config.exe"
[ -f "$folder/platforms/qwindows.dll" ] || fail "no platforms/qwindows.dll"
[ -f "$folder/licenses/Qt/LGPL-3.0-only.txt" ] || fail "no Qt licence"
[ -f "$folder/licenses/Qt/SOURCE.txt" ] || fail "no note on the Qt source"
links=$(shortcuts)
grep -q 'KELTA QM880-4R Reader Config.lnk' <<<"$links" || fail "no Start-menu shortcut: $links"
say "Start menu: ${links//$WINEPREFIX\/drive_c\//}"
query=$(wine reg query "$entry" </dev/null 2>&1 | tr -d '\r')
echo "$query"
for value in 'DisplayName +REG_SZ +KELTA QM880-4R Reader Config' \
  'DisplayVersion +REG_SZ +1\.70\.1' 'Publisher +REG_SZ +KELTA Technology Corp\.' \
  'DisplayIcon +REG_SZ +.*qm880-config\.exe' 'UninstallString +REG_SZ +.*Uninstall\.exe.*'; do
  grep -Eq "^ +$value\$" <<<"$query" || fail "the Apps entry lacks: $value"
done

# The installed program starts and shows its window; Exit ends it.
(cd "$folder" && exec wine ./qm880-config.exe </dev/null >/dev/null 2>&1) &
program=$!
window=$(wine_display_find_window qm880-config) ||
  fail "the installed program showed no window"
say "the installed program shows its window: $(xdotool getwindowname "$window")"
eval "$(xdotool getwindowgeometry --shell "$window")"
border=$(( (WIDTH - 659) / 2 ))
xdotool mousemove $((X + border + 360 + 144)) $((Y + HEIGHT - 541 - border + 464 + 16)) click 1
for ((i = 0; i < 100; i++)); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
kill -0 "$program" 2>/dev/null && fail "Exit did not end the installed program"
wait "$program" 2>/dev/null || true

# Again over it: the earlier installation is uninstalled first, silently.
install
[ -f "$folder/qm880-config.exe" ] || fail "the second install left no program"
[ "$(wine reg query "$uninstall" </dev/null 2>&1 | grep -c 'KELTA Reader Config')" -eq 1 ] ||
  fail "not one Apps entry"

# Silent uninstall (the uninstaller copies itself away and runs on: wait for Wine).
wine "$folder/Uninstall.exe" /S </dev/null >/dev/null 2>&1 || fail "the uninstaller failed"
wineserver -w
[ ! -e "$folder" ] || fail "the folder is still there: $(ls -R "$folder")"
[ -z "$(shortcuts)" ] || fail "shortcuts are left: $(shortcuts)"
if wine reg query "$entry" </dev/null >/dev/null 2>&1; then fail "the Apps entry is left"; fi
"$here/check-wine-ports.sh" --prefix "$WINEPREFIX" || fail "a COM port leads out of the prefix"
say "passed"
