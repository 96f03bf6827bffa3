#!/bin/sh
# SPDX-License-Identifier: ISC
# leftovers.sh BUILD: after the suite, nothing that its tests started is
# still running: no process carries the suite's mark (tests/lib.sh) in its
# environment.  The guards of tests that ended check once a second, so
# this waits up to 20 s; then it lists what is left, kills it, and fails.
set -u
marked() {
	grep -l "MEMGLOW_TESTMARK=$1:" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 | grep -vx "$$" || :
}
deadline=$(($(date +%s) + 20))
while [ -n "$(marked "$1")" ]; do
	if [ "$(date +%s)" -ge "$deadline" ]; then
		echo "leftovers.sh: still running 20 s after their tests ended:"
		for pid in $(marked "$1"); do
			printf '  %s %s\n' "$pid" "$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"
			kill -KILL "$pid" 2>/dev/null
		done
		exit 1
	fi
	sleep 0.5
done
echo "leftovers.sh: nothing left running"
