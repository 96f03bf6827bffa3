#!/bin/sh
# SPDX-License-Identifier: ISC
# leftovers.sh BUILD: after the suite, nothing that its tests started is
# still running: no process carries the suite's mark (tests/lib.sh) in its
# environment.
set -u
# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"
nothingleft "MEMGLOW_TESTMARK=$1:" "leftovers.sh: still running 60 s after their tests ended" || exit 1
echo "leftovers.sh: nothing left running"
