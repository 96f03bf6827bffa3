#!/bin/sh
# SPDX-License-Identifier: ISC
# reachable.sh DIR PROGRAM STANDIN: for a test that runs the program as
# another user, wherever the build is (a clone in /root): copies of the
# program (DIR/memglow), the stand-in (DIR/standin.so) and the libraries
# that the program finds through its run path, such as a cross build's
# sysroot (DIR/lib, for LD_LIBRARY_PATH), all readable by every user.
set -eu
dir=$1
mkdir -p "$dir/lib"
cp "$2" "$dir/memglow"
cp "$3" "$dir/standin.so"
paths=$(readelf -d "$2" 2>/dev/null | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]$/\2/p' | tr ':' ' ')
for path in $paths; do
	for lib in "$path"/*.so*; do
		[ ! -f "$lib" ] || cp -L "$lib" "$dir/lib/"
	done
done
chmod -R a+rX "$dir"
chmod a+x "$dir/memglow"
