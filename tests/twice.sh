#!/bin/sh
# SPDX-License-Identifier: ISC
# twice.sh SOURCE [TARGET]: make TARGET (test by default) twice at once on
# this machine, as a build farm may run it, each from a fresh clone of
# SOURCE's HEAD: one in a folder every user can reach, the other in a
# folder only its owner can enter, started TWICE_APART seconds (20 by
# default) after the first.  What a run shares with the other (a path, a
# port, a lock, a name) shows as a failure of one of them.  Prints each
# clone's part lines, and the whole output of a clone that failed; exits 0
# only if both passed.  make test-twice runs it.
set -u
src=$(cd "$1" && pwd) target=${2:-test}
head=$(git -C "$src" rev-parse HEAD) || { echo "twice.sh: $src is no git tree"; exit 1; }
base=$(mktemp -d) || exit 1
pids=
# shellcheck disable=SC2317 # called by the trap
cleanup() {
	# Each run leads a process group of its own.
	for pid in $pids; do
		kill -TERM -- "-$pid" 2>/dev/null
	done
	for pid in $pids; do
		wait "$pid" 2>/dev/null
	done
	pids=
	rm -rf "$base"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM
chmod 755 "$base"
mkdir -m 755 "$base/open"
mkdir -m 700 "$base/private"
for name in open private; do
	{ git clone -q --no-checkout "$src" "$base/$name/memglow" &&
		git -C "$base/$name/memglow" checkout -q --detach "$head"; } ||
		{ echo "twice.sh: cannot clone $src into $base/$name"; exit 1; }
done
echo "twice.sh: make $target in $base/open/memglow and, ${TWICE_APART:-20} s later, in $base/private/memglow (mode 0700), at $(echo "$head" | cut -c1-12)"
start=$(date +%s)
for name in open private; do
	[ "$name" = open ] || sleep "${TWICE_APART:-20}"
	setsid make -C "$base/$name/memglow" "$target" </dev/null >"$base/$name.log" 2>&1 &
	pids="$pids $!"
	eval "pid_$name=\$!"
done
failed=0
for name in open private; do
	eval "pid=\$pid_$name"
	status=0
	wait "$pid" || status=$?
	echo "$status" >"$base/$name.status"
done
pids=
took=$(($(date +%s) - start))
for name in open private; do
	status=$(cat "$base/$name.status")
	if [ "$status" != 0 ]; then
		failed=1
		echo "=== $name: make $target FAILED (exit status $status); its output:"
		cat "$base/$name.log"
	fi
done
for name in open private; do
	lines=$(grep '^make test: ' "$base/$name.log")
	[ -n "$lines" ] || lines="make test: no part ran (exit status $(cat "$base/$name.status"))"
	printf '%s\n' "$lines" | sed "s/^/$name: /"
done
if [ "$failed" = 0 ]; then
	echo "twice.sh: both passed ($took s)"
else
	echo "twice.sh: FAILED ($took s)"
fi
exit "$failed"
