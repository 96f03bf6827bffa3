#!/bin/sh
# SPDX-License-Identifier: ISC
# package.sh SOURCE BUILD: installs the build into a scratch prefix; follows
# the README's recipes to build, install and package in order, in a scratch
# copy of the tree, as a newcomer would, each doing what it says; then
# builds the tree as a distribution would, with the flags of
# dpkg-buildflags, runs the test suite and makes the Debian package, which
# must be the README's to the byte.  The package must pass lintian and
# hardening-check, and the manual pages mandoc's checks; what the package
# installs must run, and its life under systemd be what an operator expects
# (tests/lifecycle.sh).
set -eu
src=$(cd "$1" && pwd)
build=$2
scratch=$(mktemp -d)
readmepid=
# What the test started ends before its folder goes.
trap '[ -z "$readmepid" ] || wait "$readmepid" 2>/dev/null || :; rm -rf "$scratch"' EXIT
fail() { echo "package: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
[ -x "$scratch/prefix/bin/memglow" ] || fail "cmake --install put no bin/memglow"
[ -f "$scratch/prefix/share/man/man1/memglow.1" ] || fail "cmake --install put no uncompressed manual page"
cmp -s "$scratch/prefix/share/doc/memglow/copyright" "$src/LICENSE" ||
	fail "cmake --install put no copyright file"
# The unit and the cron line name the script where the install put it.
names() {  # names FILE PATH ROOT: FILE names PATH alone, which is ROOT/PATH here
	got=$(grep -v '^#' "$1" | grep -o '[^ =]*/memglow-textfile\b' | sort -u)
	[ "$got" = "$2" ] || fail "$1 names '$got', not $2"
	[ -x "$3$2" ] || fail "$3$2 is not installed"
}
for file in lib/systemd/system/memglow-textfile.service share/doc/memglow/examples/memglow-textfile.cron; do
	names "$scratch/prefix/$file" "$scratch/prefix/sbin/memglow-textfile" ""
done
# Installs of one build to other prefixes, at once (the suite's tests make
# them): each file names its own install's prefix.
for n in 1 2 3 4 5 6; do
	cmake --install "$build" --prefix "$scratch/at-once/$n" >/dev/null &
done
wait
for n in 1 2 3 4 5 6; do
	for file in lib/systemd/system/memglow-textfile.service share/doc/memglow/examples/memglow-textfile.cron; do
		names "$scratch/at-once/$n/$file" "$scratch/at-once/$n/sbin/memglow-textfile" ""
	done
	grep -q "^	command_line	$scratch/at-once/$n/lib/nagios/plugins/check_memglow " \
		"$scratch/at-once/$n/share/doc/memglow/examples/nagios/memglow.cfg" ||
		fail "an install at once with others names another's check: $(grep command_line "$scratch/at-once/$n/share/doc/memglow/examples/nagios/memglow.cfg")"
	grep -qx "bindir=$scratch/at-once/$n/bin" "$scratch/at-once/$n/lib/nagios/plugins/check_memglow" ||
		fail "an install at once with others: its check looks for memglow in $(grep '^bindir=' "$scratch/at-once/$n/lib/nagios/plugins/check_memglow")"
done

# The program's version, and the release: a Debian revision of it, under an
# epoch.
version=$(sed -n 's/^project(memglow VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
revision=$(sed -n 's/^set(MEMGLOW_REVISION \([0-9]*\))$/\1/p' "$src/CMakeLists.txt")
epoch=$(sed -n 's/^set(MEMGLOW_EPOCH \([0-9]*\))$/\1/p' "$src/CMakeLists.txt")
release=$version-$revision
{ [ -n "$version" ] && [ -n "$revision" ] && [ -n "$epoch" ]; } || fail "CMakeLists.txt gives no version, revision or epoch"
[ "$version" = 0.9.3 ] || fail "the program's version is $version; memglow -V must say 0.9.3"
for page in memglow.1 memglow-textfile.8 check_memglow.1; do
	out=$(mandoc -Tlint -W warning "$src/docs/$page" 2>&1) || fail "mandoc: $out"
	[ -z "$out" ] || fail "mandoc: $out"
	grep -qx "\.Os memglow $release" "$src/docs/$page" || fail "$page does not give release $release"
done
for script in memglow-textfile check_memglow; do
	grep -qx "version=$release" "$src/contrib/$script" || fail "$script does not give release $release"
done
head -n 1 "$src/docs/changelog" | grep -q "^memglow ($epoch:$release) " ||
	fail "the changelog does not start at $epoch:$release"
# Each release orders after the one before it.
sed -n 's/^memglow (\([^)]*\)).*/\1/p' "$src/docs/changelog" | {
	read -r newer
	while read -r older; do
		dpkg --compare-versions "$newer" gt "$older" || fail "the changelog's $newer does not order after $older"
		newer=$older
	done
}

# Time stamps from the last commit, as make deb takes them in a clone.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
	SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct 2>/dev/null ||
		stat -c %Y "$src/CMakeLists.txt")
fi
export SOURCE_DATE_EPOCH
# The README's recipes, in the order it gives them: the sh blocks of its
# section on building and installing, each line as typed, in a copy of the
# tree's files; the install goes to a stage.  They run beside the
# distribution's build below, with the environment a newcomer has.
copy=$scratch/readme
mkdir "$copy"
(cd "$src" && git ls-files -z 2>/dev/null | xargs -0 tar cf - 2>/dev/null) | tar -C "$copy" -xf - ||
	fail "cannot copy the tree"
[ -f "$copy/README.md" ] || fail "cannot copy the tree (no git here?)"
readme() {
	sed -n '/^## Build and install$/,/^## /p' "$src/README.md" |
		awk '/^```sh$/ { on = 1; next } /^```$/ { on = 0 } on { sub(/[ \t]+#.*$/, ""); print }' >"$scratch/recipes"
	[ "$(wc -l <"$scratch/recipes")" -ge 5 ] || fail "the README gives no recipes: $(cat "$scratch/recipes")"
	while IFS= read -r line; do
		echo "README: $line"
		(cd "$copy" && DESTDIR=$scratch/stage sh -c "$line" </dev/null >"$scratch/recipe.log" 2>&1) ||
			{ cat "$scratch/recipe.log"; fail "the README's '$line' fails"; }
	done <"$scratch/recipes"
	"$copy/build/memglow" -t | grep -q '^Total     : ' || fail "the README's build gives no memglow that runs"
	[ -x "$scratch/stage/usr/local/bin/memglow" ] || fail "the README's install put no /usr/local/bin/memglow"
	readmedeb=$(ls "$copy"/build-deb/memglow_*.deb) || fail "the README's package recipe made no package"
	[ ! -e "$copy/build-deb/tests" ] || fail "the package's build built the tests"
	echo "the README's recipes: $(wc -l <"$scratch/recipes") commands"
}
readme >"$scratch/readme.out" 2>&1 &
readmepid=$!

# A distribution's build: its flags, hardened in full.  Its package must be
# the README's, byte for byte.
DEB_BUILD_MAINT_OPTIONS=hardening=+all
export DEB_BUILD_MAINT_OPTIONS
# dpkg-buildflags maps the folder it runs in to "." in what is compiled,
# so it runs in the tree, as a packager's build does.
eval "$(cd "$src" && dpkg-buildflags --export=sh)"
distbuild() {  # distbuild FOLDER BUILD_TESTING
	cmake -S "$src" -B "$1" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING="$2" >/dev/null ||
		fail "configure failed in $1"
	cmake --build "$1" -j "$(nproc)" >"$1.log" 2>&1 || { cat "$1.log"; fail "build failed in $1"; }
}
distbuild "$scratch/one" ON
# The tests of the program, built with these flags.  (The portability
# checks build the same core as the suite's own run does; the scripts, the
# fleet files, the manual pages and the real shells' job control are
# checked there, and do not depend on the flags.)
(cd "$scratch/one" && ctest -j "$(nproc)" -E '^(Package|Fleet|Contrib|Operators|Parts|Shellcheck|Shells\..*|Portable\..*|ManualPage\..*)$' --output-on-failure \
	>"$scratch/ctest.log" 2>&1) ||
	{ cat "$scratch/ctest.log"; fail "the tests fail under dpkg-buildflags"; }
(cd "$scratch/one" && cpack -G DEB -B "$scratch/deb1" >/dev/null) || fail "cpack failed"
status=0
wait "$readmepid" || status=$?
readmepid=
[ "$status" = 0 ] || { cat "$scratch/readme.out" >&2; exit 1; }
cat "$scratch/readme.out"
readmedeb=$(ls "$copy"/build-deb/memglow_*.deb)
deb=$(ls "$scratch"/deb1/memglow_*.deb)
cmp "$deb" "$readmedeb" || fail "two builds of the same tree made different packages"
echo "two builds, one package: $(sha256sum "$deb" | cut -c1-16)"

lintian --fail-on error,warning "$deb" || fail "lintian"
[ "$(dpkg-deb -f "$deb" Version)" = "$epoch:$release" ] ||
	fail "the package's version is $(dpkg-deb -f "$deb" Version), not $epoch:$release"
# The maintainer scripts that keep systemd in step with the timer.
for script in postinst prerm postrm; do
	dpkg-deb -I "$deb" "$script" | cmp -s - "$src/contrib/debian/$script" ||
		fail "the package's $script is not contrib/debian/$script"
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
case "$depends" in *libstatgrab*) ;; *) fail "the package does not depend on libstatgrab" ;; esac
dpkg-deb -c "$deb"
dpkg -x "$deb" "$scratch/root"
bin=$scratch/root/usr/bin/memglow
hardening-check --nocfprotection "$bin" || fail "hardening-check"
for f in usr/share/man/man1/memglow.1.gz usr/share/man/man1/check_memglow.1.gz \
	usr/share/man/man8/memglow-textfile.8.gz usr/sbin/memglow-textfile \
	usr/lib/nagios/plugins/check_memglow usr/lib/systemd/system/memglow-textfile.service \
	usr/lib/systemd/system/memglow-textfile.timer; do
	[ -f "$scratch/root/$f" ] || fail "the package holds no $f"
done
[ -f "$scratch/root/usr/share/doc/memglow/changelog.Debian.gz" ] || fail "the package holds no changelog"
cmp -s "$scratch/root/usr/share/doc/memglow/copyright" "$src/LICENSE" || fail "the package holds no copyright file"
names "$scratch/root/usr/lib/systemd/system/memglow-textfile.service" /usr/sbin/memglow-textfile "$scratch/root"
# The service is confined: systemd's own score of its exposure, at most 2.0.
if command -v systemd-analyze >/dev/null 2>&1; then
	unit=$scratch/root/usr/lib/systemd/system/memglow-textfile.service
	score=$(systemd-analyze security --offline=true "$unit" 2>&1 | sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
	systemd-analyze security --offline=true --threshold=20 "$unit" >/dev/null 2>&1 ||
		fail "systemd-analyze security scores the service ${score:-?}, above 2.0"
	echo "systemd-analyze security: $score"
else
	echo "SKIPPED: systemd-analyze security (no systemd-analyze here)"
fi
installed=$("$bin" -V)
[ "$installed" = "memglow version $version" ] || fail "memglow -V printed '$installed', not 'memglow version $version'"
"$bin" -o -t | grep -q '^Mem: ' || fail "the installed memglow printed no report"
echo "installed memglow: $installed, and a report"


# The package's whole life under a booted systemd.
sh "$src/tests/lifecycle.sh" "$deb" "$build/tests/libstandin.so" || fail "the package's life under systemd"
