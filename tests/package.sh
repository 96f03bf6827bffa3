#!/bin/sh
# package.sh SOURCE BUILD: installs the build into a scratch prefix, then makes
# the Debian package, unpacks it into a scratch root and runs what it holds.
set -eu
src=$1
build=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
[ -x "$scratch/prefix/bin/memglow" ] || fail "cmake --install put no bin/memglow"
[ -f "$scratch/prefix/share/man/man1/memglow.1" ] || fail "cmake --install put no manual page"

(cd "$build" && cpack -G DEB -B "$scratch/deb" >/dev/null) || fail "cpack failed"
deb=$(ls "$scratch"/deb/memglow_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
case "$depends" in *libstatgrab*) ;; *) fail "the package does not depend on libstatgrab" ;; esac
dpkg-deb -c "$deb"
dpkg -x "$deb" "$scratch/root"
bin=$scratch/root/usr/bin/memglow
[ -f "$scratch/root/usr/share/man/man1/memglow.1" ] || fail "the package holds no manual page"
version=$("$bin" -V)
want="memglow version $(sed -n 's/^project(memglow VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")"
[ "$version" = "$want" ] || fail "memglow -V printed '$version', not '$want'"
"$bin" -o -t | grep -q '^Mem: ' || fail "the installed memglow printed no report"
echo "installed memglow: $version, and a report"
