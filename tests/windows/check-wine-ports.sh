#!/usr/bin/env bash
# check-wine-ports.sh BUILD | --prefix PREFIX...: no COM port of a test prefix leads out
# of that prefix's folder. BUILD: every prefix in the build folder (wineprefix*), and the
# one KELTA_WINEPREFIX names. For each: COM1 to COM16 are pinned under
# HKLM\Software\Wine\Ports (system.reg) to a path inside the prefix, or to nothing; each
# dosdevices link of those is in step with its pin; and every COM link of dosdevices,
# followed to its end, stays inside the prefix (a simulator's link to its pty is gone
# once the tests are over).
set -uo pipefail
fail=0
problem() { echo "check-wine-ports: $*" >&2; fail=1; }

prefixes=()
if [ "${1:-}" = --prefix ]; then
  shift
  prefixes=("$@")
else
  for p in "${1:?usage: check-wine-ports.sh BUILD | --prefix PREFIX...}"/wineprefix*; do
    [ -f "$p/system.reg" ] && prefixes+=("$p")
  done
  if [ -n "${KELTA_WINEPREFIX:-}" ] && [ -f "$KELTA_WINEPREFIX/system.reg" ]; then
    prefixes+=("$KELTA_WINEPREFIX")
  fi
fi
[ "${#prefixes[@]}" -gt 0 ] || { echo "check-wine-ports: no Wine prefix to check" >&2; exit 1; }

# The values of HKLM\Software\Wine\Ports as NAME<tab>VALUE, names in upper case.
pins_of() {
  awk '/^\[/ { inside = index($0, "[Software\\\\Wine\\\\Ports]") == 1; next }
    inside && /^"[^"]*"="/ {
      name = $0; sub(/^"/, "", name); sub(/".*/, "", name)
      value = $0; sub(/^"[^"]*"="/, "", value); sub(/"$/, "", value)
      gsub(/\\\\/, "\\", value)
      print toupper(name) "\t" value
    }' "$1/system.reg"
}

inside() {  # PREFIX PATH: PATH, every link followed, is in PREFIX
  local end
  end=$(readlink -m -- "$2")
  [[ $end == "$1"/* ]]
}

for given in "${prefixes[@]}"; do
  prefix=$(readlink -f -- "$given")
  dos=$prefix/dosdevices
  declare -A pin=()
  while IFS=$'\t' read -r name value; do pin[$name]=$value; done < <(pins_of "$prefix")
  for n in $(seq 1 16); do
    if [ -z "${pin[COM$n]+set}" ]; then
      problem "$given: COM$n is not pinned under HKLM\\Software\\Wine\\Ports"
      continue
    fi
    value=${pin[COM$n]}
    link=$(readlink -- "$dos/com$n") || link=
    if [ -z "$value" ]; then
      [ -z "$link" ] || problem "$given: COM$n is pinned to nothing but links to $link"
      continue
    fi
    target=$value
    [[ $target == /* ]] || target=$dos/$target
    inside "$prefix" "$target" || problem "$given: COM$n is pinned to $value, outside the prefix"
    [ "$link" = "$value" ] || problem "$given: com$n links to ${link:-nothing}, not to its pin $value"
  done
  links=0
  for entry in "$dos"/com*; do
    [ -L "$entry" ] || continue
    links=$((links + 1))
    inside "$prefix" "$entry" ||
      problem "$given: ${entry##*/} leads to $(readlink -m -- "$entry"), outside the prefix"
  done
  unset pin
  echo "check-wine-ports: $given: $links COM links"
done
[ "$fail" -eq 0 ] && echo "check-wine-ports: ${#prefixes[@]} prefixes, every COM port pinned inside its own"
exit "$fail"
