#!/bin/sh
# SPDX-License-Identifier: ISC
# private.sh SOURCE BUILD: the tests that run the program as another user
# pass with the program and the stand-in in a folder only root can enter,
# as they are in a clone in /root or a home of mode 0700: the shells test's
# su, sudo and runuser cases, and the window test as nobody.  Root only;
# exits 77 otherwise.
set -u
src=$1 build=$2
if [ "$(id -u)" -ne 0 ]; then
	echo "running as another user needs root"
	exit 77
fi
# shellcheck source=tests/lib.sh
. "$src/tests/lib.sh"
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
chmod 700 "$tmp"
mkdir "$tmp/clone"
cp "$build/memglow" "$tmp/clone/memglow" && cp "$build/tests/libstandin.so" "$tmp/clone/libstandin.so" || exit 1
# Nobody cannot reach them where they are.
if su -s /bin/sh nobody -c "test -r $tmp/clone/libstandin.so" 2>/dev/null; then
	echo "private.sh: nobody can read $tmp: not a private folder"
	exit 1
fi
sh "$src/tests/shells.sh" "$tmp/clone/memglow" "$tmp/clone/libstandin.so" su >"$tmp/shells.log" 2>&1 ||
	fail "the shells test as another user: $(cat "$tmp/shells.log")"
grep -q '^SKIPPED' "$tmp/shells.log" && fail "the shells test left a case out: $(grep '^SKIPPED' "$tmp/shells.log")"
MEMGLOW_BIN=$tmp/clone/memglow MEMGLOW_STANDIN_LIB=$tmp/clone/libstandin.so \
	"$build/tests/e2e_tests" --gtest_filter='Races.AnotherUsersTerminalChangedAsAFrameGoesOut' \
	>"$tmp/window.log" 2>&1 || fail "the window test as nobody: $(cat "$tmp/window.log")"
grep -q 'SKIPPED' "$tmp/window.log" && fail "the window test left itself out: $(cat "$tmp/window.log")"
[ "$failures" = 0 ] || { echo "private.sh: $failures failures"; exit 1; }
echo "private.sh: the tests as another user pass from a private folder"
