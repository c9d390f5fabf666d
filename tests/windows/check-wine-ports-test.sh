#!/usr/bin/env bash
# check-wine-ports-test.sh: check-wine-ports.sh passes a prefix pinned as wine-run pins it
# and fails each way a COM port can lead out of it, on made-up prefixes (no Wine needed).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kelta-ports-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0

# A prefix's registry file and dosdevices as the pins make them; each case breaks a copy.
template=$work/template
mkdir -p "$template/dosdevices" "$template/ports"
{
  printf 'WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n'
  printf '[Software\\\\Wine\\\\Ports] 1796843188\n#time=1dd881064c68e7e\n'
  for n in {1..16}; do printf '"COM%d"="../ports/com%d"\n' "$n" "$n"; done
  printf '\n[Software\\\\Wine\\\\Other] 1796843188\n"COM3"="/dev/ttyS0"\n'
} >"$template/system.reg"
for n in {1..16}; do ln -s "../ports/com$n" "$template/dosdevices/com$n"; done
mkdir "$template/dosdevices/com17"

# name | what breaks the prefix | exit code wanted
cases=(
  "as pinned|:|0"
  "a simulator's link left behind|ln -s /dev/ttyS0 ports/com3|1"
  "a host device above the pins|ln -s /dev/ttyS0 dosdevices/com18|1"
  "a link out of step with its pin|ln -sfn ../ports/com9 dosdevices/com4|1"
  "a pin missing|sed -i '/^\"COM5\"=/d' system.reg|1"
  "a pin to a host device|sed -i 's#^\"COM6\"=.*#\"COM6\"=\"/dev/ttyS0\"#' system.reg|1"
  "a pin out of the prefix|sed -i 's#^\"COM7\"=.*#\"COM7\"=\"../../x/com7\"#' system.reg|1"
  "a port pinned to nothing|sed -i 's#^\"COM8\"=.*#\"COM8\"=\"\"#' system.reg; rm dosdevices/com8|0"
  "pinned to nothing but linked|sed -i 's#^\"COM8\"=.*#\"COM8\"=\"\"#' system.reg|1"
)
i=0
for c in "${cases[@]}"; do
  IFS='|' read -r name change want <<<"$c"
  i=$((i + 1))
  prefix=$work/wineprefix-$i
  cp -a "$template" "$prefix"
  (cd "$prefix" && eval "$change") || { echo "FAILED: $name: cannot make the case"; status=1; continue; }
  out=$("$here/check-wine-ports.sh" --prefix "$prefix" 2>&1)
  got=$?
  if [ "$got" -eq "$want" ]; then
    echo "ok: $name"
  else
    echo "FAILED: $name: exit $got, want $want:"
    echo "$out"
    status=1
  fi
done

# The build folder form: every wineprefix* in it, here all nine, so it fails.
if "$here/check-wine-ports.sh" "$work" >/dev/null 2>&1; then
  echo "FAILED: the build folder with bad prefixes passed"
  status=1
else
  echo "ok: the build folder with bad prefixes fails"
fi
exit "$status"
