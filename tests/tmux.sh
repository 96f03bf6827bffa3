#!/bin/sh
# SPDX-License-Identifier: ISC
# tmux.sh MEMGLOW STANDIN: in tmux panes as tall as the report and a row
# taller, a refresh every 0.1 s with changing figures adds nothing to the
# pane's history (tmux takes an erase from the top-left corner for a cleared
# screen and keeps what it clears), nor does a report that grows past the
# pane; and a report that waited behind ^S while the pane was widened (tmux
# re-wraps its rows) leaves the shell's lines above it; and resizes as tmux
# delivers them (late): two at once, a drag wider and narrower column by
# column, and a storm of heights 1 to 5, which leave the shell's lines whole
# and no more copies of the report than the manual says, each whole.  Each
# sample waits at a gate of the stand-in until the test lets it through, and
# the test waits for the report to show.  Exits 77 (skipped) without tmux.
set -eu
memglow=$1 standin=$2
command -v tmux >/dev/null 2>&1 || { echo "tmux.sh: no tmux here"; exit 77; }
tmp=$(mktemp -d)
# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"
guard
socket=
# The runs carry the mark in their environment: whatever tmux leaves, the
# test ends.
# shellcheck disable=SC2317 # called by the trap
cleanup() {
	[ -z "$socket" ] || endtmux "$socket"
	killmarked "$mark"
	rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM
mem="8589934592 1073741824 3221225472"
for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16; do
	mem="$mem;8589934592 $((i * 268435456)) 1073741824"
done
status=0

# start NAME WIDTH HEIGHT COMMAND: a new server whose pane runs the command,
# the samples of its memglow ($run) behind the gate.
run="env LD_PRELOAD='$standin' '$memglow'"
start() {
	socket=memglow-test-$$-$(printf '%s' "$1" | tr -c 'a-z0-9' -)
	rm -rf "$tmp/gate"
	mkdir "$tmp/gate"
	env "$mark" tmux -L "$socket" -f /dev/null new-session -d -x "$2" -y "$3" \
		"env $mark STANDIN_GATE='$tmp/gate' $4; sleep 600"
}
stop() {
	endtmux "$socket"
	socket=
}
# through N: lets samples up to N through.
through() {
	for n in $(seq 1 "$1"); do
		: >"$tmp/gate/$n"
	done
}
# shellcheck disable=SC2317 # called by waitfor
inpane() {
	tmux -L "$socket" capture-pane -p -J | grep -qF -- "$1"
}
# shows TEXT: waits until the pane shows the text (60 s at most).
shows() {
	waitfor 60 inpane "$1" && return 0
	echo "tmux.sh: $case: the pane never showed '$1'"
	tmux -L "$socket" capture-pane -p
	status=1
	return 1
}
history() {
	tmux -L "$socket" display -p '#{history_size}'
}

# keepshistory NAME WIDTH HEIGHT COMMAND FIRST SHOWN LAST SHOWN: the
# command's refreshes from report FIRST (when the pane shows its text) to
# report LAST add nothing to the pane's history.
keepshistory() {
	case=$1
	start "$1" "$2" "$3" "$4"
	through "$5"
	shows "$6" || { stop; return; }
	before=$(history)
	through "$7"
	shows "$8" || { stop; return; }
	after=$(history)
	tmux -L "$socket" capture-pane -p
	if [ "$before" != "$after" ]; then
		echo "tmux.sh: $1: its history grew from $before to $after rows"
		status=1
	fi
	stop
}
# Reports 3 and 17 read 18 % and 62 % free.
for height in 3 4; do
	keepshistory "a pane of $height rows" 80 "$height" \
		"STANDIN_MEM='$mem' $run -t -s 0.1" 3 "] 18% " 17 "] 62% "
done
# Three rows at 90 columns, then six.
keepshistory "a report that grew past a pane of 4 rows" 90 4 \
	"STANDIN_MEM='8589934592 1073741824 3221225472;18014398509481984 9007199254740992 0' STANDIN_SWAP='2147483648 2147483648;18014398509481984 9007199254740992' $run -b -t -s 0.1" \
	1 "(10737418240=" 3 "(36028797018963968="

# ^S, the pane widened from 40 to 120 columns, ^Q.
case="a report behind ^S"
start stopped 40 24 "STANDIN_MEM='$mem' sh -c \"printf 'one\\\\ntwo\\\\nthree\\\\n'; exec $run -t -s 0.1\""
through 1
shows "] 50% " || exit 1
tmux -L "$socket" send-keys C-s
through 2
waitfor 60 test -e "$tmp/gate/2.taken"
tmux -L "$socket" resize-window -x 120
tmux -L "$socket" send-keys C-q
through 3
shows "] 18% " || exit 1
shown=$(tmux -L "$socket" capture-pane -p -S -)
printf '%s\n' "$shown"
if [ "$(printf '%s\n' "$shown" | head -n 3)" != "$(printf 'one\ntwo\nthree')" ]; then
	echo "tmux.sh: a report that waited behind ^S through a resize drew over the lines above it"
	status=1
fi
stop

# Resizes as tmux delivers them: it redraws its pane at the new size at once
# and tells the pty up to 0.3 s later, when resizes come close together.
# resizes NAME WIDTH HEIGHT DELAY COPIES SIZES: nine lines, then memglow -t
# refreshing every DELAY seconds while the pane takes each of the sizes
# (wW a width, hH a height; pS a pause of S seconds between two, as a hand
# drags) in turn, told at once.  Once the run has taken
# three samples since, the nine lines stand whole at the top of the
# history, and at most COPIES reports are on screen and in the history.
# taken N: N samples or more have been taken.
# shellcheck disable=SC2317 # called by waitfor
taken() {
	want=$1
	set -- "$tmp/gate"/*.taken
	[ -e "$1" ] && [ $# -ge "$want" ]
}
count() {
	set -- "$tmp/gate"/*.taken
	if [ -e "$1" ]; then echo $#; else echo 0; fi
}
resizes() {
	case=$1
	start "resizes-$1" "$2" "$3" "STANDIN_MEM='$mem' sh -c \"for i in 1 2 3 4 5 6 7 8 9; do echo line\\\$i; done; exec $run -t -s $4\""
	(cd "$tmp/gate" && touch $(seq 1 2000))
	shows "Total" || { stop; return; }
	for size in $6; do
		case $size in
		w*) tmux -L "$socket" resize-window -x "${size#w}" ;;
		h*) tmux -L "$socket" resize-window -y "${size#h}" ;;
		p*) sleep "${size#p}" ;;
		esac
	done
	want=$(($(count) + 3))
	waitfor 60 taken "$want"
	shown=$(tmux -L "$socket" capture-pane -p -J -S -)
	copies=$(printf '%s\n' "$shown" | grep -c '^Total')
	if [ "$(printf '%s\n' "$shown" | head -n 9)" != "$(seq 1 9 | sed 's/^/line/')" ]; then
		echo "tmux.sh: $1: the lines above the report did not stay whole"
		printf '%s\n' "$shown"
		status=1
	elif [ "$(printf '%s\n' "$shown" | grep -c '^Physical  : ')" -ne "$copies" ]; then
		echo "tmux.sh: $1: a torn copy, drawn in part over another"
		printf '%s\n' "$shown"
		status=1
	elif [ "$copies" -gt "$5" ]; then
		echo "tmux.sh: $1: $copies reports on screen and in the history, more than $5"
		printf '%s\n' "$shown"
		status=1
	else
		echo "tmux.sh: $1: the lines stay, $copies report(s)"
	fi
	stop
}
# widen FROM TO [PAUSE]: a drag column by column.
widen() {
	w=$1
	while [ "$w" -ne "$2" ]; do
		if [ "$w" -lt "$2" ]; then w=$((w + 1)); else w=$((w - 1)); fi
		printf 'w%s %s' "$w" "${3:+p$3 }"
	done
}
storm() {
	for i in $(seq 1 150); do
		printf 'h%s ' $((i % 5 + 1))
	done
	echo h24
}
for delay in 2 0.5 0.1 0.02; do
	resizes "two resizes at once, every $delay s" 50 30 "$delay" 1 "w55 w100"
done
resizes "a drag wider, column by column" 50 30 0.1 1 "$(widen 50 100)"
resizes "a drag narrower, column by column" 89 30 0.1 2 "$(widen 89 40)"
# tmux re-wraps the rows on screen before it tells the new width: a report
# drawn in place meanwhile tore the copy.
resizes "a drag from 95 to 65, a column every 30 ms" 95 30 0.1 2 "$(widen 95 65 0.03)"
resizes "heights 1 to 5, 150 times" 80 24 0.1 2 "$(storm)"
exit $status
