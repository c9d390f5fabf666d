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

for given in "${prefixes[@]}"; do
  prefix=$(readlink -f -- "$given")
  dos=$prefix/dosdevices
  declare -A pin=() link=()
  while IFS=$'\t' read -r name value; do pin[$name]=$value; done < <(pins_of "$prefix")
  while IFS=$'\t' read -r name target; do link[$name]=$target; done < <(
    find "$dos" -maxdepth 1 -type l -name 'com*' -printf '%f\t%l\n')
  # What has to stay inside the prefix once every link on the way is followed: each COM
  # link, and where each pin leads.
  paths=() what=()
  for name in "${!link[@]}"; do
    paths+=("$dos/$name")
    what+=("$name")
  done
  for n in {1..16}; do
    if [ -z "${pin[COM$n]+set}" ]; then
      problem "$given: COM$n is not pinned under HKLM\\Software\\Wine\\Ports"
      continue
    fi
    value=${pin[COM$n]} now=${link[com$n]:-}
    if [ -z "$value" ]; then
      [ -z "$now" ] || problem "$given: COM$n is pinned to nothing but com$n links to $now"
      continue
    fi
    [ "$now" = "$value" ] || problem "$given: com$n links to ${now:-nothing}, not to its pin $value"
    if [[ $value == /* ]]; then paths+=("$value"); else paths+=("$dos/$value"); fi
    what+=("the pin of COM$n ($value)")
  done
  if [ "${#paths[@]}" -gt 0 ]; then
    mapfile -t ends < <(readlink -m -- "${paths[@]}")
    for i in "${!paths[@]}"; do
      [[ ${ends[i]} == "$prefix"/* ]] ||
        problem "$given: ${what[i]} leads out of the prefix, to ${ends[i]}"
    done
  fi
  echo "check-wine-ports: $given: ${#link[@]} COM links"
  unset pin link
done
[ "$fail" -eq 0 ] && echo "check-wine-ports: ${#prefixes[@]} prefixes, every COM port pinned inside its own"
exit "$fail"
