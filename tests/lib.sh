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

# killmarked MARK: kills every process but this shell that carries MARK
# (NAME=value) in its environment: what a test started, wherever tmux or a
# shell left it.
killmarked() {
	grep -l "$1" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 | while read -r pid; do
		[ "$pid" = $$ ] || kill -KILL "$pid" 2>/dev/null || :
	done
}

# endtmux SOCKET: ends a tmux server and takes its socket away.
endtmux() {
	tmux -L "$1" kill-server 2>/dev/null || :
	rm -f "${TMUX_TMPDIR:-/tmp}/tmux-$(id -u)/$1"
}
