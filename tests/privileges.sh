#!/bin/sh
# SPDX-License-Identifier: ISC
# privileges.sh MEMGLOW: a setuid-root copy and a setgid copy of the
# program, run by nobody, give up what they were installed with for good:
# while a refreshing run pauses after its first report, its real, effective,
# saved and file-system ids are all nobody's and its supplementary groups at
# most nobody's group; and on a terminal that nobody may not open, the run
# has not opened it by its name (as it could have with root's ids).  The
# real library reads the figures: the loader keeps a preloaded stand-in out
# of a setuid program.  Root only; exits 77 otherwise, or where this
# machine cannot run a setuid copy.
set -u
memglow=$1
if [ "$(id -u)" -ne 0 ]; then
	echo "a setuid copy run by another user needs root"
	exit 77
fi
for tool in setpriv script; do
	command -v "$tool" >/dev/null 2>&1 || { echo "no $tool here (util-linux, bsdutils)"; exit 77; }
done
# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"
guard
tmp=$(mktemp -d) || exit 1
run=
# shellcheck disable=SC2317 # called by the trap
cleanup() {
	[ -z "$run" ] || kill "$run" 2>/dev/null
	killmarked "$mark"
	rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM
nogroup=$(id -g nobody)
# Only nobody's group may enter the folder, and only root and nobody run
# the copies in it.
chgrp "$nogroup" "$tmp" && chmod 0750 "$tmp" || exit 1
cp "$memglow" "$tmp/setuid" && chown 0:"$nogroup" "$tmp/setuid" && chmod 4750 "$tmp/setuid" || exit 1
# (Without execute permission for the group, the set-group-ID bit does
# nothing.)
cp "$memglow" "$tmp/setgid" && chown nobody:0 "$tmp/setgid" && chmod 2710 "$tmp/setgid" || exit 1
cp "$(command -v id)" "$tmp/uid" && chown 0:"$nogroup" "$tmp/uid" && chmod 4750 "$tmp/uid" || exit 1
cp "$(command -v id)" "$tmp/gid" && chown nobody:0 "$tmp/gid" && chmod 2710 "$tmp/gid" || exit 1
asnobody="setpriv --reuid=nobody --regid=$nogroup --clear-groups"
# A file system mounted nosuid, or a kernel that ignores the bits, would
# make the checks below pass for nothing.
if [ "$($asnobody "$tmp/uid" -u 2>/dev/null)" != 0 ] || [ "$($asnobody "$tmp/gid" -g 2>/dev/null)" != 0 ]; then
	echo "a setuid or setgid copy does not take its ids here (a nosuid file system?)"
	exit 77
fi

# held COPY GROUPS: the copy, run by nobody with -s 1000 on a terminal of
# script's own, in nobody's group and the supplementary GROUPS (setpriv's
# --groups, or --clear-groups), shows its first report and pauses; its pid
# is in $tmp/pid.  The terminal is root's, its name closed to nobody.
held() {
	rm -f "$tmp/pid" "$tmp/out"
	as="setpriv --reuid=nobody --regid=$nogroup $2"
	# shellcheck disable=SC2016 # the inner shell's own
	env "$mark" script -q -e -c "sh -c 'echo \$\$ >$tmp/pid; exec $as $tmp/$1 -s 1000'" \
		/dev/null </dev/null >"$tmp/out" 2>&1 &
	run=$!
	waitfor 60 grep -q 'Swap' "$tmp/out" || { fail "$1: no report came: $(cat "$tmp/out")"; return 1; }
	pid=$(cat "$tmp/pid")
}
# ended: the held run ends.
ended() {
	kill "$pid" 2>/dev/null
	wait "$run" 2>/dev/null
	run=
}
# ids PID FIELD: the four ids of a Uid: or Gid: line.
ids() {
	sed -n "s/^$2:[[:space:]]*//p" "/proc/$1/status" | tr -s '[:space:]' ' ' | sed 's/ $//'
}

all=65534
all="$all $all $all $all"
# The setuid copy starts in root's group too, and must leave it: a
# process whose ids are root's may set its groups, and nobody's may not.
for copy in setuid:--groups=0 setgid:--clear-groups; do
	groups=${copy#*:} copy=${copy%%:*}
	before=$failures
	held "$copy" "$groups" || continue
	uids=$(ids "$pid" Uid) gids=$(ids "$pid" Gid) groups=$(ids "$pid" Groups)
	[ "$uids" = "$all" ] || fail "$copy: Uid: $uids, not $all"
	[ "$gids" = "$nogroup $nogroup $nogroup $nogroup" ] || fail "$copy: Gid: $gids"
	[ -z "$groups" ] || [ "$groups" = "$nogroup" ] || fail "$copy: Groups: $groups"
	# The terminal's name refuses nobody; the run may have only
	# /dev/tty, opened after the release.
	tty=$(readlink "/proc/$pid/fd/1")
	case $tty in
	/dev/pts/*)
		if $asnobody sh -c ": >$tty" 2>/dev/null; then
			echo "SKIPPED: $copy: nobody may open $tty here: the terminal's open is not checked"
		else
			for fd in /proc/"$pid"/fd/*; do
				[ "${fd##*/}" -le 2 ] || [ "$(readlink "$fd")" != "$tty" ] ||
					fail "$copy: the run opened $tty by its name, with privileges it was to give up"
			done
		fi
		;;
	*) fail "$copy: the run's standard output is $tty, not script's terminal" ;;
	esac
	ended
	[ "$failures" != "$before" ] || echo "ok: $copy"
done

[ "$failures" = 0 ] || { echo "privileges.sh: $failures failures"; exit 1; }
echo "privileges.sh: all passed"
