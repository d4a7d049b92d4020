#!/usr/bin/env bash
# The package's systemd unit as systemd itself reads it: systemd-analyze
# verify on a copy whose programs are those of this build (the package puts
# them in /usr/lib/portulon). The man pages it names are the package's, made
# when the package is built, so their lookup is left out here.
#   unit_verify_test.sh UNIT BIN_DIR
# Exit status: 0 passed, 1 failed, 77 skipped (no systemd-analyze).
set -euo pipefail
unit="${1:?usage: unit_verify_test.sh UNIT BIN_DIR}"
bin="$(cd "${2:?usage: unit_verify_test.sh UNIT BIN_DIR}" && pwd)"
command -v systemd-analyze >/dev/null || { echo "SKIPPED: systemd-analyze is not installed"; exit 77; }
work="$(mktemp -d /tmp/plunit.XXXXXX)"
trap 'rm -rf "$work"' EXIT
sed "s|/usr/lib/portulon/|$bin/|g" "$unit" > "$work/portulon.service"
grep -q "$bin/plmachine boot" "$work/portulon.service" || { echo "FAIL - the unit does not run plmachine boot"; exit 1; }
for program in plmachine net; do
  [ -x "$bin/$program" ] || { echo "FAIL - $program was not built"; exit 1; }
done
if ! out="$(systemd-analyze verify --man=no "$work/portulon.service" 2>&1)"; then
  echo "FAIL - systemd-analyze verify:"; echo "$out"; exit 1
fi
# verify reports some findings without failing: none is acceptable.
if [ -n "$out" ]; then echo "FAIL - systemd-analyze verify says:"; echo "$out"; exit 1; fi
echo "ok   - systemd-analyze verify accepts portulon.service"
