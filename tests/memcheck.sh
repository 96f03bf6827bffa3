#!/bin/sh
# SPDX-License-Identifier: ISC
# memcheck.sh STATUS COMMAND...: runs COMMAND under valgrind's memcheck and
# fails on any memory error or lost block, or an exit status other than
# STATUS.  valgrind's own summary must be there, so that a valgrind that
# could not run the program fails too, whatever status it gave.
want=$1
shift
log=$(mktemp) || exit 1
trap 'rm -f "$log"' EXIT
valgrind --log-file="$log" --error-exitcode=99 --leak-check=full \
	--errors-for-leak-kinds=definite,indirect \
	--show-leak-kinds=definite,indirect "$@" >/dev/null
got=$?
if ! grep -q 'ERROR SUMMARY: 0 errors' "$log"; then
	echo "memcheck: valgrind did not run the program, or found errors:" >&2
	cat "$log" >&2
	exit 1
fi
if [ "$got" -ne "$want" ]; then
	echo "memcheck: exit status $got, wanted $want (99: valgrind found errors)" >&2
	exit 1
fi
