#!/usr/bin/env bash
# Portulon's one entry point: build, test, demo.
#   ./portulon.sh build   build everything into build/ (programs and modules in build/bin/)
#   ./portulon.sh test    build, then run every test with ctest ("test faults": the fault suite only)
#   ./portulon.sh package build, then make the installation folder build/package/
#   ./portulon.sh demo    build, then provision and run the demo network in demo-network/
#   ./portulon.sh fuzz    build the libFuzzer targets with clang into build-fuzz/
#   ./portulon.sh --help  the commands
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cd "$here"

BUILD_DIR="${PORTULON_BUILD_DIR:-$here/build}"
JOBS="${PORTULON_JOBS:-$(nproc 2>/dev/null || echo 2)}"
# qt6-base-dev: the console pladmin (its widget tests run on Qt's offscreen
# platform); fonts-dejavu-core: the fonts its windows and screenshots draw with.
# unixODBC, the SQLite ODBC driver and sqlite3, PostgreSQL and its driver, and
# python3-aiosmtpd: the database export and the status mail, and their tests.
# libmspack-dev: setup expands its compressed installation files with it.
# libsmbclient-dev: the platform reaches a share on another host over SMB.
BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev fonts-dejavu-core libmspack-dev libsmbclient-dev
  unixodbc-dev libsqliteodbc sqlite3 python3 python3-aiosmtpd odbc-postgresql postgresql)
# The end-to-end test in front of a real OpenVPN server: the server and its
# clients in network namespaces, certificates made by openssl; poppler-utils:
# pdftotext reads back the console's printed log; man-db: every manual page
# is rendered as lintian renders it; systemd: systemd-analyze checks the
# package's unit; samba and smbclient: the hosts of scripts/host_network.sh,
# whose master serves its share with an smbd of its own.
TEST_PACKAGES=(openvpn socat openssl iproute2 poppler-utils man-db systemd samba smbclient)
# ./portulon.sh deb: the package and its check.
DEB_PACKAGES=(dpkg-dev fakeroot lintian man-db)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the Debian packages that are missing, and only those. Another
# package manager holding dpkg's lock (unattended upgrades on a fresh machine)
# is waited for, with a message, instead of failing at once.
need_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "portulon: installing ${missing[*]}"
    local wait=(-o DPkg::Lock::Timeout=600)
    if dpkg_lock_held; then
      echo "portulon: another package manager holds the dpkg lock; waiting for it (up to 10 minutes)"
    fi
    as_root apt-get "${wait[@]}" update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get "${wait[@]}" install -y -q --no-install-recommends "${missing[@]}"
    stop_system_samba
  fi
}

# Installing samba may start the system's own smbd and nmbd; the tests run
# theirs in network namespaces and want none on the host.
stop_system_samba() {
  local daemon
  for daemon in smbd nmbd samba-ad-dc; do
    if [ -s "/run/samba/$daemon.pid" ] && kill -0 "$(cat "/run/samba/$daemon.pid")" 2>/dev/null; then
      if command -v systemctl >/dev/null && systemctl is-active -q "$daemon" 2>/dev/null; then
        as_root systemctl stop "$daemon"
      else
        as_root service "$daemon" stop || true
      fi
    fi
  done
}

# True while a process holds dpkg's lock (only root may ask; others are told
# by apt-get itself, which waits as well).
dpkg_lock_held() {
  local lock
  [ "$(id -u)" -eq 0 ] || return 1
  command -v flock >/dev/null || return 1
  for lock in /var/lib/dpkg/lock-frontend /var/lib/dpkg/lock; do
    [ -e "$lock" ] || continue
    flock -n -x "$lock" true 2>/dev/null || return 0
  done
  return 1
}

do_build() {
  need_packages "${BUILD_PACKAGES[@]}"
  cmake -S "$here" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$BUILD_DIR" -j "$JOBS"
}

# Every test, or only those of a label ("faults": the fault-injection suite).
do_test() {
  local label=()
  if [ -n "${1:-}" ]; then label=(-L "$1"); fi
  do_build
  need_packages "${TEST_PACKAGES[@]}"
  ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$JOBS" --timeout 300 "${label[@]}"
}

# The Debian package, checked with lintian. Its binaries are built apart, in
# build-deb/, with dpkg-buildflags' hardening, as a maintainer's build makes them.
do_deb() {
  need_packages "${BUILD_PACKAGES[@]}" "${DEB_PACKAGES[@]}"
  local deb_build="${PORTULON_DEB_BUILD_DIR:-$here/build-deb}" deb
  cmake -S "$here" -B "$deb_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPORTULON_HARDENING=ON >/dev/null
  # Only what the package holds: the programs and modules of bin/.
  ninja -C "$deb_build" -j "$JOBS" $(ninja -C "$deb_build" -t targets all | sed -n 's|^\(bin/[^:]*\):.*|\1|p')
  deb="$(bash "$here/packaging/build-deb.sh" "$deb_build" "$here/dist")"
  echo "portulon: built $deb"
  lintian --fail-on error,warning "$deb"
}

# The fuzzers: built with clang and its sanitizers into their own folder,
# never by the main build. `fuzz NAME SECONDS` then runs one of them on a
# working copy of its seed corpus (fuzz/corpus/NAME); findings land in
# build-fuzz/findings/NAME/; further arguments go to libFuzzer (for example
# -fork=1 -ignore_crashes=1 to go on past a finding).
FUZZ_PACKAGES=(cmake ninja-build clang libclang-rt-dev)
FUZZ_TARGETS=(pipe_message log_record profile profile_record hive)
do_fuzz() {
  local fuzz_dir="${PORTULON_FUZZ_DIR:-$here/build-fuzz}"
  need_packages "${FUZZ_PACKAGES[@]}"
  CC=clang CXX=clang++ cmake -S "$here/fuzz" -B "$fuzz_dir" -G Ninja >/dev/null
  cmake --build "$fuzz_dir" -j "$JOBS"
  [ "$#" -eq 0 ] && return 0
  local name="$1" seconds="${2:-60}" t found=""
  shift $(($# < 2 ? $# : 2))
  for t in "${FUZZ_TARGETS[@]}"; do [ "$t" = "$name" ] && found=1; done
  if [ -z "$found" ]; then
    echo "portulon: no fuzzer '$name' (there are: ${FUZZ_TARGETS[*]})" >&2
    exit 2
  fi
  mkdir -p "$fuzz_dir/corpus/$name" "$fuzz_dir/findings/$name"
  "$fuzz_dir/${name}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$fuzz_dir/findings/$name/" "$@" "$fuzz_dir/corpus/$name" "$here/fuzz/corpus/$name"
}

# The installation folder: setup and the compressed files it installs.
PACKAGE_DIR="$BUILD_DIR/package"
make_package() {
  bash "$here/packaging/build-package.sh" "$BUILD_DIR" "$PACKAGE_DIR" >/dev/null
  echo "portulon: installation folder $PACKAGE_DIR"
}
do_package() {
  do_build
  make_package
}

do_demo() {
  do_build
  make_package
  PORTULON_BIN_DIR="$BUILD_DIR/bin" PORTULON_PACKAGE_DIR="$PACKAGE_DIR" \
    bash "$here/scripts/demo.sh" "$here/demo-network"
}

usage() {
  cat <<EOT
Usage: $0 COMMAND

Commands:
  build    build everything into build/ (the programs and modules in build/bin/,
           test programs in build/tests/, benchmarks in build/bench/)
  test [LABEL]
           build, then run every test with ctest; with LABEL only the tests
           that carry it ("faults": the fault-injection suite: kills at random
           points, a data folder read-only, gone and back, a full file system,
           silent pipe clients)
  package  build, then make the installation folder build/package/: setup
           and beside it every file it installs, compressed
  demo     build, then provision the demo network in demo-network/, install
           Portulon on it from the installation folder and run it
  deb      build with dpkg-buildflags' hardening into build-deb/, then make
           the Debian package in dist/ and check it with lintian
  fuzz [NAME [SECONDS [OPTION...]]]
           build the fuzzers (clang, libFuzzer) into build-fuzz/; with a NAME
           (pipe_message, log_record, profile, hive) run that one for SECONDS
           (default 60) on its seed corpus in fuzz/corpus/NAME, passing any
           OPTIONs to libFuzzer
  help     this text (also --help and -h)

Missing Debian packages are installed with apt-get (as root, or through sudo).
The build folder is \$PORTULON_BUILD_DIR (default: build/), the number of
parallel jobs \$PORTULON_JOBS (default: the number of processors).

Exit status: 0 success, 2 an unknown command, otherwise the status of the
build, the tests or the demo that failed.
EOT
}

case "${1:-}" in
  build) do_build ;;
  test)
    shift
    do_test "$@"
    ;;
  package) do_package ;;
  demo) do_demo ;;
  deb) do_deb ;;
  fuzz)
    shift
    do_fuzz "$@"
    ;;
  help | --help | -h) usage ;;
  *)
    usage >&2
    exit 2
    ;;
esac
