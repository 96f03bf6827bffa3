# shellcheck shell=sh
# SPDX-License-Identifier: ISC
# lib.sh: what the suite's shell tests share; each sources it with
# . "$(dirname "$0")/lib.sh".
failures=0

# fail TEXT: a check that failed; the test goes on, and fails at its end.
fail() {
	echo "FAIL: $*"
	failures=$((failures + 1))
}

# The test's own deadline, MEMGLOW_BUDGET seconds from its start (900 by
# default), which every wait keeps: the test ends by it, cleaning up and
# saying what it waited for, before ctest's time limit, which is set above
# it, would end the test with nothing said.
budget=$(($(date +%s) + ${MEMGLOW_BUDGET:-900}))
# capped SECONDS: SECONDS from now, or the test's deadline where that is
# sooner.
capped() {
	deadline=$(($(date +%s) + $1))
	[ "$deadline" -le "$budget" ] || deadline=$budget
	echo "$deadline"
}

# waitfor SECONDS COMMAND...: until the command succeeds, or the deadline.
waitfor() {
	deadline=$(capped "$1")
	shift
	until "$@"; do
		[ "$(date +%s)" -lt "$deadline" ] || return 1
		sleep 0.1
	done
}

# listens PID PORT: the process PID listens on the TCP port of 127.0.0.1.
# A server that answers there may be another run's, on a port picked at
# the same time: only the listening socket tells whose it is.
listens() {
	ss -Hltnp "src 127.0.0.1:$2" 2>/dev/null | grep -q "pid=$1,"
}

# The mark that what this test starts carries in its environment, whatever
# tmux or a shell makes of it: the suite's (ctest sets MEMGLOW_TESTS to the
# build folder), the test's and this shell's.  A check at the end of the
# suite (leftovers.sh) finds any process of the suite's still running.
mark="MEMGLOW_TESTMARK=${MEMGLOW_TESTS:-}:$(basename "$0" .sh):$$"

# killmarked MARK: kills every process but this shell that carries MARK
# (NAME=value) in its environment: what a test started, wherever tmux or a
# shell left it.
killmarked() {
	for pid in $(marked "$1"); do
		kill -KILL "$pid" 2>/dev/null || :
	done
}
# marked MARK: the processes but this shell that carry MARK.
marked() {
	grep -l "$1" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 | grep -vx "$$" || :
}
# nothingleft MARK WHAT: waits until no process carries MARK (60 s at
# most: the guards look once a second, and a busy machine may be slow to
# run them); then lists and kills what is left, says WHAT, and fails.
nothingleft() {
	deadline=$(capped 60)
	while [ -n "$(marked "$1")" ]; do
		if [ "$(date +%s)" -ge "$deadline" ]; then
			echo "$2:"
			for pid in $(marked "$1"); do
				printf '  %s %s\n' "$pid" "$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"
				kill -KILL "$pid" 2>/dev/null
			done
			return 1
		fi
		sleep 0.5
	done
}

# guard: once this shell is gone, however it went (ctest's time limit ends
# a test with SIGKILL, which runs no trap), kills what carries the mark.
# The guard leaves the test's process tree, which ctest ends, and carries
# the mark only in its arguments.
guard() {
	# shellcheck disable=SC2016 # the guard's own arguments
	(setsid sh -c 'while kill -0 "$1" 2>/dev/null; do sleep 1; done
		grep -l "$2" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 |
			while read -r pid; do kill -KILL "$pid" 2>/dev/null; done' guard $$ "$mark" \
		</dev/null >/dev/null 2>&1 &)
}

# endtmux SOCKET: ends a tmux server and takes its socket away.
endtmux() {
	tmux -L "$1" kill-server 2>/dev/null || :
	rm -f "${TMUX_TMPDIR:-/tmp}/tmux-$(id -u)/$1"
}
