#!/bin/sh
# SPDX-License-Identifier: ISC
# tmux.sh MEMGLOW STANDIN: in tmux panes as tall as the report and a row
# taller, a refresh every 0.1 s with changing figures adds nothing to the
# pane's history (tmux takes an erase from the top-left corner for a cleared
# screen and keeps what it clears).  Exits 77 (skipped) without tmux.
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
for height in 3 4; do
	socket=memglow-test-$$-$height
	tmux -L "$socket" -f /dev/null new-session -d -x 80 -y "$height" \
		"env LD_PRELOAD='$standin' STANDIN_MEM='$mem' '$memglow' -t -s 0.1; sleep 5"
	sleep 0.6
	before=$(tmux -L "$socket" display -p '#{history_size}')
	sleep 1.5
	after=$(tmux -L "$socket" display -p '#{history_size}')
	tmux -L "$socket" capture-pane -p
	if [ "$before" != "$after" ]; then
		echo "tmux.sh: a pane of $height rows: its history grew from $before to $after rows"
		status=1
	fi
	tmux -L "$socket" kill-server
done
exit $status
