#!/usr/bin/env bash
# The README's "Looking inside a machine" lines, run one by one on the network
# the demo leaves (the demo without its waits for supervision): every line
# must end with status 0. Also the console the README opens after the demo is
# installed and watches both servers.
#   readme_lines_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src="$(cd "${1:?SOURCE_DIR}" && pwd)"
build="$(cd "${2:?BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
net="$work/demo-network"
cleanup() {
  local m
  for m in SRV2 SRV1; do
    [ -d "$net/$m/registry" ] || continue
    PORTULON_NETWORK="$net" PORTULON_MACHINE="$net/$m" "$build/bin/net" stop RemoteAccess >/dev/null 2>&1
    PORTULON_NETWORK="$net" PORTULON_MACHINE="$net/$m" "$build/bin/net" stop Portulon >/dev/null 2>&1
  done
  rm -rf "$work"
}
trap cleanup EXIT

bash "$src/packaging/build-package.sh" "$build" "$work/package" >/dev/null || { echo "FAIL: no package"; exit 1; }
if ! env PORTULON_DEMO_QUICK=1 PORTULON_BIN_DIR="$build/bin" PORTULON_PACKAGE_DIR="$work/package" \
    bash "$src/scripts/demo.sh" "$net" >"$work/demo.log" 2>&1; then
  tail -n 40 "$work/demo.log"
  echo "FAIL: the demo did not finish"
  exit 1
fi
if grep -q $'\033' "$work/demo.log"; then
  echo "FAIL: the demo wrote escape codes into a file"
  exit 1
fi

# The first shell block of "Looking inside a machine", as it stands in the README.
awk '/^## Looking inside a machine/ { found = 1; next }
     found && /^```sh$/ { inside = 1; next }
     inside && /^```$/ { exit }
     inside { print }' "$src/README.md" > "$work/lines.sh"
[ "$(grep -c . "$work/lines.sh")" -gt 10 ] || { echo "FAIL: the README's lines were not found"; exit 1; }

mkdir -p "$work/build"
ln -s "$build/bin" "$work/build/bin"
{
  echo 'set -e'
  echo 'trap '\''echo "FAIL: the README line \"$BASH_COMMAND\" ended with status $?"'\'' ERR'
  while IFS= read -r line; do
    printf 'echo %q\n%s\n' "\$ $line" "$line"
  done < "$work/lines.sh"
} > "$work/run.sh"
(cd "$work" && env -u PORTULON_MACHINE -u PORTULON_NETWORK -u ODBCSYSINI -u ODBCINI bash "$work/run.sh") \
  > "$work/run.log" 2>&1
status=$?
cat "$work/run.log"
[ "$status" -eq 0 ] || exit 1

# What the lines showed: ann admitted, the export done, grace on two links.
grep -q "COM1: DOM\\\\ann admitted" "$work/run.log" || { echo "FAIL: ann was not admitted"; exit 1; }
grep -q "COM2: DOM\\\\grace admitted" "$work/run.log" || { echo "FAIL: grace's second link was not admitted"; exit 1; }
# The console the README opens: installed on ADMINPC and watching both servers.
servers="$(PORTULON_NETWORK="$net" PORTULON_MACHINE="$net/ADMINPC" "$build/bin/reg" query \
  'HKLM\Software\Quillfen Technologies\Portulon\Servers')" || { echo "FAIL: ADMINPC has no Servers key"; exit 1; }
grep -q 'Servers\\SRV1' <<<"$servers" && grep -q 'Servers\\SRV2' <<<"$servers" ||
  { echo "FAIL: ADMINPC does not watch SRV1 and SRV2: $servers"; exit 1; }
[ -n "$(find "$net/ADMINPC/drive_c/Program Files" -iname 'pladmin*' -print -quit)" ] ||
  { echo "FAIL: no console on ADMINPC"; exit 1; }
# The demo's machines show times on a 24-hour clock.
for m in SRV1 SRV2 ADMINPC; do
  PORTULON_NETWORK="$net" PORTULON_MACHINE="$net/$m" "$build/bin/reg" query \
    'HKU\.DEFAULT\Control Panel\International' /v sTimeFormat | grep -q 'HH:mm:ss' ||
    { echo "FAIL: $m has no 24-hour clock"; exit 1; }
done
echo "every README line ran on the demo's network"
