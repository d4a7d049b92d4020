#!/usr/bin/env bash
# Every program keeps the command-line promise of the README: --help prints
# its help (status 0) without a machine or a display, --version one line
# naming it (0), an unknown option is refused with status 2 before anything
# is looked for or started; and the manual page made from the help has every
# section and renders without a warning.
#   command_line_test.sh BIN_DIR PACKAGING_DIR
set -uo pipefail
bin="${1:?BIN_DIR}"
packaging="${2:?PACKAGING_DIR}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Nothing of the caller's environment: no machine, no display, no Qt platform.
run() {  # run NAME COMMAND... ; sets rc, out, err
  (cd "$work" && env -i PATH=/usr/bin:/bin HOME="$work" LANG=C.UTF-8 timeout 30 "${@:2}" \
    >"$work/out" 2>"$work/err")
  rc=$?
  out="$(cat "$work/out")"
  err="$(cat "$work/err")"
}

check_program() {  # check_program NAME COMMAND...
  local name="$1"
  shift
  run "$name" "$@" --help
  if [ "$rc" -ne 0 ]; then
    fail "$name --help: status $rc: $err"
  elif [[ "${out%%$'\n'*}" != "$name - "* ]] || ! grep -q '^Usage:' <<<"$out"; then
    fail "$name --help: does not begin with '$name - ...' and a Usage: block"
  else
    printf '%s\n' "$out" > "$work/$name.help"
    if ! python3 "$packaging/help_to_man.py" "$name" test < "$work/$name.help" > "$work/$name.1" 2>"$work/conv"; then
      fail "$name: no manual page from its help: $(cat "$work/conv")"
    else
      # As lintian renders a page.
      warnings="$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
        "$work/$name.1" 2>&1 >/dev/null)"
      [ -z "$warnings" ] || fail "$name: man -l warns: $warnings"
    fi
  fi

  run "$name" "$@" --version
  if [ "$rc" -ne 0 ] || [ "$(wc -l <<<"$out")" -ne 1 ] || [[ "$out" != "$name "* ]]; then
    fail "$name --version: status $rc, output '$out' $err"
  fi

  run "$name" "$@" --no-such-option
  if [ "$rc" -ne 2 ]; then
    fail "$name --no-such-option: status $rc (2 expected): $out $err"
  elif ! grep -q -- '--no-such-option' <<<"$err"; then
    fail "$name --no-such-option: stderr does not name the option: $err"
  fi
}

count=0
for f in "$bin"/*; do
  name="$(basename "$f")"
  case "$name" in *.dll | *.DLL) continue ;; esac
  [ -f "$f" ] && [ -x "$f" ] || continue
  check_program "$name" "$f"
  count=$((count + 1))
done
[ "$count" -gt 10 ] || fail "only $count programs found in $bin"

# The package's "portulon" wrapper, under the name it is installed as.
ln -s "$packaging/portulon-run" "$work/portulon"
check_program portulon sh "$work/portulon"

echo "$count programs and portulon checked, $failures failure(s)"
[ "$failures" -eq 0 ]
