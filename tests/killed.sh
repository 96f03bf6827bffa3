#!/bin/sh
# SPDX-License-Identifier: ISC
# killed.sh BUILD: tests that start tmux servers, shells in sessions of
# their own and jobs in the background, ended mid-way by ctest's time limit
# (SIGKILL, which runs no trap), leave nothing of theirs running: their
# guards end it (tests/lib.sh, tests/run.cpp).
set -u
build=$1
tests='^(Shells\.bash|TmuxHistory|Background\.AJobStoppedByTheTerminalEndsWhenKilled)$'
marked() {
	grep -l "MEMGLOW_TESTMARK=$build:" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 | grep -vx "$$" || :
}
# Each is ended 2 s in, before it is done.
ctest --test-dir "$build" -R "$tests" -FA '.*' --timeout 2 >"$build/killed.log" 2>&1
if ! grep -q 'Timeout' "$build/killed.log"; then
	echo "killed.sh: no test was ended by the time limit:"
	cat "$build/killed.log"
	exit 1
fi
grep 'Timeout' "$build/killed.log"
deadline=$(($(date +%s) + 20))
while [ -n "$(marked)" ]; do
	if [ "$(date +%s)" -ge "$deadline" ]; then
		echo "killed.sh: still running 20 s after ctest ended their tests:"
		for pid in $(marked); do
			printf '  %s %s\n' "$pid" "$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"
			kill -KILL "$pid" 2>/dev/null
		done
		exit 1
	fi
	sleep 0.5
done
echo "killed.sh: nothing left running"
