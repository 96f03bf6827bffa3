#!/bin/sh
# SPDX-License-Identifier: ISC
# parts.sh NAME=COMMAND...: runs each command with sh, one after another,
# whatever became of the ones before, showing what it prints; then prints
# one line per part: passed, FAILED, or left out.  A command exits 77 to
# say that it left itself out, and its last line says why; lines of a
# part's output that start with "left out: " (tests that left themselves
# out, as tests/leftout.sh reports them) are added to its line.  Exits 1
# if any part failed, 0 otherwise.
set -u
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
trap 'exit 1' HUP INT TERM
failed=0 summary=''
for part in "$@"; do
	name=${part%%=*} command=${part#*=}
	start=$(date +%s)
	{
		sh -c "$command" 2>&1
		echo $? >"$tmp/status"
	} | tee "$tmp/log"
	status=$(cat "$tmp/status")
	took="$(($(date +%s) - start)) s"
	case $status in
	0)
		line="passed ($took)"
		leftout=$(sed -n 's/^left out: //p' "$tmp/log" | awk 'NR > 1 { printf "; " } { printf "%s", $0 }')
		[ -z "$leftout" ] || line="$line; left out: $leftout"
		;;
	77) line="left out: $(sed -e '/^[[:space:]]*$/d' -e 's/^left out: //' "$tmp/log" | tail -n 1)" ;;
	*)
		line="FAILED (exit status $status, $took)"
		failed=1
		;;
	esac
	summary="$summary
make test: $name: $line"
done
echo "$summary"
exit $failed
