#!/bin/sh
# SPDX-License-Identifier: ISC
# killed.sh BUILD: tests that start tmux servers, shells in sessions of
# their own and jobs in the background, ended mid-way by ctest's time limit
# (SIGKILL, which runs no trap), leave nothing of theirs running: their
# guards end it (tests/lib.sh, tests/run.cpp).
set -u
build=$1
# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"
tests='^(Shells\.bash|TmuxHistory|Background\.AJobStoppedByTheTerminalEndsWhenKilled)$'
# Each is ended 2 s in, before it is done.
ctest --test-dir "$build" -R "$tests" -FA '.*' --timeout 2 >"$build/killed.log" 2>&1
if ! grep -q 'Timeout' "$build/killed.log"; then
	echo "killed.sh: no test was ended by the time limit:"
	cat "$build/killed.log"
	exit 1
fi
grep 'Timeout' "$build/killed.log"
nothingleft "MEMGLOW_TESTMARK=$build:" "killed.sh: still running 60 s after ctest ended their tests" || exit 1
echo "killed.sh: nothing left running"
