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

# waitfor SECONDS COMMAND...: until the command succeeds, or the deadline.
waitfor() {
	deadline=$(($(date +%s) + $1))
	shift
	until "$@"; do
		[ "$(date +%s)" -lt "$deadline" ] || return 1
		sleep 0.1
	done
}
