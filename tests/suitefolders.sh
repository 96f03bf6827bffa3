#!/bin/sh
# SPDX-License-Identifier: ISC
# suitefolders.sh SOURCE BUILD: the tests that let another user signal
# them (the shells test's su, sudo and runuser cases, the window test as
# nobody and the setuid copies) make no folder that every user may write:
# run as root under strace, none changes a mode to one that others may
# write, and with umask 022 none makes one.  Root only, with strace;
# exits 77 otherwise.
set -u
src=$1 build=$2
if [ "$(id -u)" -ne 0 ]; then
	echo "the tests as another user need root"
	exit 77
fi
command -v strace >/dev/null 2>&1 || { echo "no strace here"; exit 77; }
# shellcheck source=tests/lib.sh
. "$src/tests/lib.sh"
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
umask 022
# traced NAME COMMAND...: runs the command, and what it starts, under
# strace, which notes each folder made and each mode changed.
traced() {
	name=$1
	shift
	strace -f -qq -o "$tmp/$name.trace" -e trace=mkdir,mkdirat,chmod,fchmod,fchmodat "$@" \
		>"$tmp/$name.log" 2>&1
	status=$?
	[ "$status" = 0 ] || [ "$status" = 77 ] || fail "$name: status $status: $(tail -n 20 "$tmp/$name.log")"
	# A mode given that others may write (mkdir, with this umask, makes
	# none).
	awk '/chmod/ && !/ = -1 / && /, 0?[0-7]*[2367]\) = / { print }' "$tmp/$name.trace" >"$tmp/$name.open"
	if [ -s "$tmp/$name.open" ]; then
		fail "$name: gave a mode that others may write:
$(cat "$tmp/$name.open")"
	else
		echo "$name: $(grep -c 'mkdir\|chmod' "$tmp/$name.trace") folders made or modes changed, none open to all"
	fi
}
traced shells sh "$src/tests/shells.sh" "$build/memglow" "$build/tests/libstandin.so" su
traced races "$build/tests/e2e_tests" --gtest_filter=Races.AnotherUsersTerminalChangedAsAFrameGoesOut
traced privileges sh "$src/tests/privileges.sh" "$build/memglow"
[ "$failures" = 0 ] || { echo "suitefolders.sh: $failures failures"; exit 1; }
echo "suitefolders.sh: all passed"
