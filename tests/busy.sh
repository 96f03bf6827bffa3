#!/bin/sh
# SPDX-License-Identifier: ISC
# busy.sh COMMAND...: runs the command on a busy machine, as a build
# daemon's may be: a busy loop on every core and one more, for as long as
# the command runs; the loops end with it.  make test-busy runs make test
# so.  Exits with the command's status.
set -u
loops=
# shellcheck disable=SC2317 # called by the trap
stop() {
	# shellcheck disable=SC2086 # a list of pids
	[ -z "$loops" ] || kill $loops 2>/dev/null
	loops=
}
trap stop EXIT
trap 'exit 1' HUP INT TERM
cores=$(nproc 2>/dev/null || echo 2)
for _ in $(seq 0 "$cores"); do
	sh -c 'while :; do :; done' &
	loops="$loops $!"
done
echo "busy.sh: $((cores + 1)) busy loops on $cores cores" >&2
"$@"
status=$?
stop
exit $status
