#!/usr/bin/env bash
# check-imports.sh OBJDUMP FOLDER VERSION: the deployed Windows program's folder holds
# everything it loads and nothing it does not. Every DLL that a program or DLL in FOLDER imports is
# in FOLDER itself or is one of Windows' own; every DLL in FOLDER is imported by one of
# them, or is a Qt plugin in its plugin folder; besides those only licence texts. The
# window's program is a window program (no console) with its icon and version resource,
# the command line a console program.
set -euo pipefail
objdump=$1 folder=$2 version=$3
fail=0
problem() { echo "check-imports: $*" >&2; fail=1; }

# Windows' own DLLs, on every Windows 10 and 11 (names in lower case), and the API sets
# (api-ms-win-*), which Windows resolves itself.
system=" advapi32.dll authz.dll bcrypt.dll comctl32.dll comdlg32.dll crypt32.dll d3d11.dll
 d3d9.dll dwmapi.dll dwrite.dll dxgi.dll gdi32.dll imm32.dll kernel32.dll mpr.dll
 msvcrt.dll netapi32.dll ntdll.dll ole32.dll oleaut32.dll opengl32.dll setupapi.dll
 shcore.dll shell32.dll shlwapi.dll user32.dll userenv.dll uxtheme.dll version.dll
 winmm.dll winspool.drv ws2_32.dll wtsapi32.dll "
system="${system//$'\n'/ }"  # one line, names between blanks
cd "$folder"
mapfile -t binaries < <(find . -type f \( -iname '*.exe' -o -iname '*.dll' \) | sort)
[ "${#binaries[@]}" -gt 0 ] || { echo "check-imports: no program in $folder" >&2; exit 1; }
shipped=" "
for b in "${binaries[@]}"; do
  [[ $b == ./*/* ]] || shipped+="$(basename "${b,,}") "
done

imported=" "
for b in "${binaries[@]}"; do
  dlls=$("$objdump" -p "$b" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '[:upper:]' '[:lower:]')
  for dll in $dlls; do
    imported+="$dll "
    if [[ $shipped == *" $dll "* || $system == *" $dll "* || $dll == api-ms-win-* ]]; then
      continue
    fi
    problem "$b imports $dll, which neither the folder nor Windows has"
  done
  # shellcheck disable=SC2086 # the names on one line
  echo "$b:" $dlls
done

for b in "${binaries[@]}"; do
  name=$(basename "${b,,}")
  case "$b" in
    ./platforms/*.dll | ./styles/*.dll) ;;  # Qt's plugins, loaded by name at run time
    ./*/*) problem "$b: a program or DLL outside the plugin folders" ;;
    *.exe) ;;
    *) [[ $imported == *" $name "* ]] || problem "$b is shipped but nothing imports it" ;;
  esac
done
while IFS= read -r file; do
  problem "$file: neither a program, a DLL nor a licence text"
done < <(find . -type f ! -iname '*.exe' ! -iname '*.dll' ! -path './licenses/*')

exe=./qm880-config.exe
headers=$("$objdump" -p "$exe")
grep -Eq '^Subsystem[[:space:]]+0+2[[:space:]]' <<<"$headers" ||
  problem "$exe is not a window program (GUI subsystem)"
if command -v wrestool >/dev/null; then
  resources=$(wrestool -l "$exe")
  grep -q -- "--type=14 --name='IDI_ICON1'" <<<"$resources" || problem "$exe has no icon IDI_ICON1"
  grep -q -- '--type=16' <<<"$resources" || problem "$exe has no version resource"
fi
texts=$(strings -e l "$exe")
for text in 'KELTA QM880-4R Reader Config' 'KELTA Technology Corp.' "$version"; do
  grep -qxF "$text" <<<"$texts" || problem "$exe: no \"$text\" in its version resource"
done

cli=./qm880ctl.exe
if [ -f "$cli" ]; then
  grep -Eq '^Subsystem[[:space:]]+0+3[[:space:]]' <<<"$("$objdump" -p "$cli")" ||
    problem "$cli is not a console program"
else
  problem "$cli is missing"
fi

[ "$fail" -eq 0 ] && echo "check-imports: ${#binaries[@]} programs and DLLs, every import found"
exit "$fail"
