#!/usr/bin/env bash
# Builds the Debian package from a finished build: the programs and modules
# under /usr/lib/portulon, the administrators' tools on PATH (links to
# portulon-run, which finds the machine), the systemd unit, a manual page for
# every program made from its --help, and the default machine made by postinst.
#   packaging/build-deb.sh BUILD_DIR OUT_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: build-deb.sh BUILD_DIR OUT_DIR}" && pwd)"
out="${2:?usage: build-deb.sh BUILD_DIR OUT_DIR}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"

version="$(sed -n 's/^project(Portulon VERSION \([0-9.]*\).*/\1/p' "$here/../CMakeLists.txt")-1"
arch="$(dpkg --print-architecture)"
stage="$build/deb/portulon"
rm -rf "$stage"
lib="$stage/usr/lib/portulon"
install -d "$stage/DEBIAN" "$lib" "$stage/usr/bin" "$stage/lib/systemd/system" "$stage/etc/default" \
  "$stage/usr/share/man/man1" "$stage/usr/share/doc/portulon" "$stage/var/lib/portulon"

for f in "$build"/bin/*; do
  case "$f" in
    *.dll | *.DLL) install -m 0644 "$f" "$lib/" ;;
    *) install -m 0755 "$f" "$lib/" ;;
  esac
done
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$lib"/*
install -m 0755 "$here/portulon-setup" "$lib/"
sed "s/@VERSION@/$version/" "$here/portulon-run" > "$lib/portulon-run"
chmod 0755 "$lib/portulon-run"

# The tools an administrator types; the others through "portulon TOOL".
path_tools=(plmachine pldomain plreport pluser plsettings plexport pipecall eventlog plovpn)
for t in portulon "${path_tools[@]}"; do ln -s ../lib/portulon/portulon-run "$stage/usr/bin/$t"; done
install -m 0644 "$here/portulon.service" "$stage/lib/systemd/system/"
install -m 0644 "$here/default" "$stage/etc/default/portulon"

# One manual page per program, written from its --help (help_to_man.py), so
# that page and help cannot drift apart. Help needs no machine and no display.
pages="$build/deb/man"
rm -rf "$pages"
mkdir -p "$pages"
page() {  # page NAME COMMAND...
  local name="$1"
  shift
  env -u PORTULON_MACHINE -u DISPLAY -u WAYLAND_DISPLAY "$@" --help |
    python3 "$here/help_to_man.py" "$name" "$version" > "$pages/$name.1"
  gzip -9n < "$pages/$name.1" > "$stage/usr/share/man/man1/$name.1.gz"
}
for f in "$lib"/*; do
  name="$(basename "$f")"
  case "$name" in *.dll | *.DLL | portulon-*) continue ;; esac
  page "$name" "$build/bin/$name"
done
mkdir -p "$build/deb/run"
ln -sf "$lib/portulon-run" "$build/deb/run/portulon"
page portulon sh "$build/deb/run/portulon"

install -m 0644 "$here/copyright" "$stage/usr/share/doc/portulon/copyright"
cat > "$build/deb/changelog" <<CHANGES
portulon ($version) unstable; urgency=medium

  * Portulon in front of an OpenVPN server: the adapter plovpn, the unit
    portulon.service and the default machine in /var/lib/portulon.

 -- Quillfen Technologies <portulon@quillfen.example>  $(date -R)
CHANGES
gzip -9n < "$build/deb/changelog" > "$stage/usr/share/doc/portulon/changelog.Debian.gz"

for s in postinst prerm postrm; do install -m 0755 "$here/$s" "$stage/DEBIAN/"; done
echo /etc/default/portulon > "$stage/DEBIAN/conffiles"
install -d "$stage/usr/share/lintian/overrides"
install -m 0644 "$here/lintian-overrides" "$stage/usr/share/lintian/overrides/portulon"

# Depends from the libraries the binaries link, as dpkg-shlibdeps finds them.
shlib="$build/deb/shlibs"
rm -rf "$shlib"
mkdir -p "$shlib/debian"
printf 'Source: portulon\n\nPackage: portulon\nArchitecture: any\n' > "$shlib/debian/control"
elves=()
for f in "$lib"/*; do
  [ "$(head -c 4 "$f" | od -An -c | tr -d ' ')" = '177ELF' ] && elves+=("-e$f")
done
depends="$(cd "$shlib" && dpkg-shlibdeps -O "${elves[@]}" | sed -n 's/^shlibs:Depends=//p')"
[ -n "$depends" ] || { echo "build-deb: no dependencies found" >&2; exit 1; }
size="$(du -sk --exclude=DEBIAN "$stage" | cut -f1)"
cat > "$stage/DEBIAN/control" <<CONTROL
Package: portulon
Version: $version
Architecture: $arch
Maintainer: Quillfen Technologies <portulon@quillfen.example>
Installed-Size: $size
Depends: $depends
Recommends: openvpn
Section: net
Priority: optional
Homepage: https://quillfen.example/portulon
Description: access control and accounting for remote access
 Portulon decides for every client of the remote-access server whether it may
 connect (profiles, expiry, session and total time, period allowances, no
 duplicate logins, groups per port), hands out fixed addresses, warns users
 before their time is up, cuts idle sessions and those past their deadline,
 and keeps daily session logs and usage accounts. This package puts it in
 front of an OpenVPN server through the adapter plovpn.
CONTROL
(cd "$stage" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | xargs -0 md5sum > DEBIAN/md5sums)
deb="$out/portulon_${version}_${arch}.deb"
fakeroot dpkg-deb --build -Zxz "$stage" "$deb" >/dev/null
echo "$deb"
