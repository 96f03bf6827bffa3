#!/bin/sh
# SPDX-License-Identifier: ISC
# docs.sh SOURCE MEMGLOW STANDIN: the examples of output in README.md and
# memglow(1) are what the program prints for the stand-in's default
# figures (an 8 GiB machine with 1 GiB free, 3 GiB of cache and 2 GiB of
# swap, all free), without the colours; the manual's with its tabs
# expanded.  A change to a layout, a mark or a label that leaves them
# stale fails here.
set -u
src=$1 memglow=$2 standin=$3
# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT

# shown FILE COMMAND END: the lines after "$ COMMAND" in FILE, up to a line
# that starts with "$ " or matches END.
shown() {
	awk -v cmd="\$ $2" -v end="$3" '
		on && (/^\$ / || $0 ~ end) { exit }
		on { print }
		$0 == cmd { on = 1 }' "$1"
}
# prints COMMAND: what memglow prints for it, once, without the colours.
prints() {
	# shellcheck disable=SC2086 # the command's words
	set -- $1
	shift
	LD_PRELOAD=$standin "$memglow" "$@" | sed 's/\x1b\[[0-9;]*m//g'
}
# example FILE COMMAND RUN END [expand]: FILE's example of COMMAND is what
# RUN prints.
example() {
	shown "$1" "$2" "$4" >"$tmp/doc"
	if [ ! -s "$tmp/doc" ]; then
		fail "$1: no example of '$2'"
		return
	fi
	prints "$3" >"$tmp/got"
	[ "${5:-}" != expand ] || { expand "$tmp/got" >"$tmp/x" && mv "$tmp/x" "$tmp/got"; }
	cmp -s "$tmp/doc" "$tmp/got" ||
		fail "$1: the example of '$2' is not what memglow prints:
$(diff "$tmp/doc" "$tmp/got")"
}

example "$src/README.md" "memglow -t" "memglow -t" '^```'
example "$src/README.md" "memglow -o -t" "memglow -o -t" '^```'
example "$src/docs/memglow.1" "memglow -m -t" "memglow -m -t" '^\.Ed' expand
# The refresh's example shows its first report.
example "$src/docs/memglow.1" "memglow -o -s 2" "memglow -o" '^\.Ed' expand

[ "$failures" = 0 ] || { echo "docs.sh: $failures failures"; exit 1; }
echo "docs.sh: the examples are what memglow prints"
