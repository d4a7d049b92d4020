#!/usr/bin/env bash
# Builds the installation folder from a finished build: setup, and beside it
# every file setup installs, compressed in the expand utility's format under
# its compressed name ("pladmin.ex_"; the system data file as
# "Portulon.hw_"), listed with size and CRC-32 in setup.ini. Programs and
# modules go in without their debugging data.
#   packaging/build-package.sh BUILD_DIR OUT_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: build-package.sh BUILD_DIR OUT_DIR}" && pwd)"
out="${2:?usage: build-package.sh BUILD_DIR OUT_DIR}"
files="$here/../installer/files"

rm -rf "$out"
mkdir -p "$out"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT

strip --strip-unneeded -o "$out/setup" "$build/bin/setup"
# setup names what it installs; each name's source is a program or module of
# the build (plsvc.exe from bin/plsvc) or one of the installer's own files.
"$build/bin/setup" --list-files | while IFS= read -r name; do
  case "$name" in
    *.exe | *.EXE)
      src="$build/bin/$(printf '%s' "${name%.*}" | tr 'A-Z' 'a-z')"
      strip --strip-unneeded -o "$stage/$name" "$src"
      src="$stage/$name"
      ;;
    *.dll | *.DLL)
      strip --strip-unneeded -o "$stage/$name" "$build/bin/$name"
      src="$stage/$name"
      ;;
    *) src="$files/$name" ;;
  esac
  shipped="$name"
  [ "$name" = portulon.hw ] && shipped="Portulon.hw"
  "$build/bin/plcompress" "$out" "$src" "$name" "$shipped"
done
echo "$out"
