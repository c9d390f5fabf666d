#!/bin/bash
# makensis_sorted_test.sh WRAPPER: cmake/makensis-sorted puts each run of the uninstaller's
# Delete lines in name order and each run of RMDir lines deepest first, leaves every other
# line where it was, and then runs makensis with the same arguments.
set -u
wrapper=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# A makensis that records its arguments and the script as it was given.
mkdir "$dir/bin"
cat >"$dir/bin/makensis" <<'STUB'
#!/bin/sh
printf '%s\n' "$@" >"$(dirname "$0")/../args"
cp "$2" "$(dirname "$0")/../seen.nsi"
STUB
chmod +x "$dir/bin/makensis"

printf '%s\n' \
  'Section "Uninstall"' \
  '  Delete "$INSTDIR\zz.dll"' \
  '  Delete "$INSTDIR\licenses\Qt\b.txt"' \
  '  Delete "$INSTDIR\Ab.exe"' \
  '  Delete "$INSTDIR\licenses"' \
  '' \
  '  RMDir "$INSTDIR\licenses"' \
  '  RMDir "$INSTDIR\platforms"' \
  '  RMDir "$INSTDIR\licenses\Qt"' \
  '  Delete "$INSTDIR\Uninstall.exe"' \
  '  RMDir "$INSTDIR"' \
  'SectionEnd' >"$dir/project.nsi"
printf '%s\n' \
  'Section "Uninstall"' \
  '  Delete "$INSTDIR\Ab.exe"' \
  '  Delete "$INSTDIR\licenses"' \
  '  Delete "$INSTDIR\licenses\Qt\b.txt"' \
  '  Delete "$INSTDIR\zz.dll"' \
  '' \
  '  RMDir "$INSTDIR\platforms"' \
  '  RMDir "$INSTDIR\licenses\Qt"' \
  '  RMDir "$INSTDIR\licenses"' \
  '  Delete "$INSTDIR\Uninstall.exe"' \
  '  RMDir "$INSTDIR"' \
  'SectionEnd' >"$dir/want.nsi"

status=0
PATH="$dir/bin:$PATH" "$wrapper" -V2 "$dir/project.nsi" || { echo "the wrapper failed"; exit 1; }
if ! diff -u "$dir/want.nsi" "$dir/seen.nsi"; then
  echo "makensis got the lists in another order"
  status=1
fi
if [ "$(cat "$dir/args")" != "$(printf '%s\n' -V2 "$dir/project.nsi")" ]; then
  echo "makensis got other arguments: $(cat "$dir/args")"
  status=1
fi
[ "$status" = 0 ] && echo "makensis-sorted: lists in order, other lines and arguments kept"
exit "$status"
