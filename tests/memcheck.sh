#!/bin/sh
# SPDX-License-Identifier: ISC
# memcheck.sh STATUS COMMAND...: runs COMMAND under valgrind's memcheck and
# fails on any memory error or lost block, or an exit status other than STATUS.
want=$1
shift
valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
	--show-leak-kinds=definite,indirect "$@" >/dev/null
got=$?
if [ "$got" -ne "$want" ]; then
	echo "memcheck: exit status $got, wanted $want (99: valgrind found errors)" >&2
	exit 1
fi
