#!/bin/sh
# SPDX-License-Identifier: ISC
# tmux.sh MEMGLOW STANDIN: in tmux panes as tall as the report and a row
# taller, a refresh every 0.1 s with changing figures adds nothing to the
# pane's history (tmux takes an erase from the top-left corner for a cleared
# screen and keeps what it clears), nor does a report that grows past the
# pane; and a report that waited behind ^S while the pane was widened (tmux
# re-wraps its rows) leaves the shell's lines above it.  Exits 77 (skipped)
# without tmux.
set -eu
memglow=$1 standin=$2
command -v tmux >/dev/null 2>&1 || { echo "tmux.sh: no tmux here"; exit 77; }
socket=
trap 'tmux -L "$socket" kill-server 2>/dev/null || true' EXIT
mem="8589934592 1073741824 3221225472"
for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16; do
	mem="$mem;8589934592 $((i * 268435456)) 1073741824"
done
status=0

# keepshistory NAME WIDTH HEIGHT BEFORE AFTER COMMAND: in a pane of that
# size the command's refreshes add nothing to the pane's history between
# BEFORE and AFTER more seconds.
keepshistory() {
	socket=memglow-test-$$-$(printf '%s' "$1" | tr -c 'a-z0-9' -)
	tmux -L "$socket" -f /dev/null new-session -d -x "$2" -y "$3" "$6; sleep 5"
	sleep "$4"
	before=$(tmux -L "$socket" display -p '#{history_size}')
	sleep "$5"
	after=$(tmux -L "$socket" display -p '#{history_size}')
	tmux -L "$socket" capture-pane -p
	if [ "$before" != "$after" ]; then
		echo "tmux.sh: $1: its history grew from $before to $after rows"
		status=1
	fi
	tmux -L "$socket" kill-server
}
for height in 3 4; do
	keepshistory "a pane of $height rows" 80 "$height" 0.6 1.5 \
		"env LD_PRELOAD='$standin' STANDIN_MEM='$mem' '$memglow' -t -s 0.1"
done
# Three rows at 90 columns, then six.
keepshistory "a report that grew past a pane of 4 rows" 90 4 0.5 1.6 \
	"env LD_PRELOAD='$standin' STANDIN_MEM='8589934592 1073741824 3221225472;18014398509481984 9007199254740992 0' STANDIN_SWAP='2147483648 2147483648;18014398509481984 9007199254740992' '$memglow' -b -t -s 1"

# ^S, the pane widened from 40 to 120 columns, ^Q.
socket=memglow-test-$$-stopped
tmux -L "$socket" -f /dev/null new-session -d -x 40 -y 24 \
	"printf 'one\\ntwo\\nthree\\n'; env LD_PRELOAD='$standin' '$memglow' -t -s 0.5; sleep 5"
sleep 0.3
tmux -L "$socket" send-keys C-s
sleep 1.2
tmux -L "$socket" resize-window -x 120
tmux -L "$socket" send-keys C-q
sleep 1.2
shown=$(tmux -L "$socket" capture-pane -p -S -)
printf '%s\n' "$shown"
if [ "$(printf '%s\n' "$shown" | head -n 3)" != "$(printf 'one\ntwo\nthree')" ]; then
	echo "tmux.sh: a report that waited behind ^S through a resize drew over the lines above it"
	status=1
fi
tmux -L "$socket" kill-server
exit $status
