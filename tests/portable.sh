#!/bin/sh
# SPDX-License-Identifier: ISC
# portable.sh MODE SOURCE BUILD: builds the pure core and its check program
# (tests/portable) in BUILD/portable-MODE the way a packager or another
# target would, runs it, and checks what the mode is about:
#   m32       32-bit x86 (i686-linux-gnu-g++): the same pauses and bars, and
#             no C++ runtime or libgcc_s among the program's needs; run by
#             the kernel or by qemu-i386-static, as tests/i386.sh finds
#             (MEMGLOW_I386=qemu forces the emulator)
#   fastmath  -ffast-math in the user's CXXFLAGS: NaN and infinity still
#             caught
#   cxx20     -DCMAKE_CXX_STANDARD=20 stands, and builds without a warning
#   musl      the musl C library (musl-tools), linked statically: its
#             getopt rescans cleanly
# Exits 77 (skipped) where the machine cannot build for the mode.
set -eu
mode=$1 src=$2 build=$3/portable-$mode${MEMGLOW_I386:+-$MEMGLOW_I386}
flags='' std='' link='' compiler=${CXX:-c++} run=
rm -rf "$build"
mkdir -p "$build"
case $mode in
m32)
	# Debian's cross compiler for 32-bit x86 (g++-multilib conflicts with
	# the other cross compilers); the program runs on this machine with
	# that compiler's loader and C library.
	compiler=i686-linux-gnu-g++
	if ! command -v "$compiler" >/dev/null 2>&1; then
		echo "portable.sh: no $compiler here (g++-i686-linux-gnu)"
		exit 77
	fi
	# shellcheck source=tests/i386.sh
	. "$src/tests/i386.sh"
	case $(i386mode "$build") in
	native) echo "portable.sh: the kernel runs 32-bit x86 programs" ;;
	qemu)
		echo "portable.sh: 32-bit x86 programs run under qemu-i386-static"
		run=qemu-i386-static
		;;
	*)
		echo "portable.sh: $(i386none)"
		exit 77
		;;
	esac
	flags=-flto
	link=-DCMAKE_EXE_LINKER_FLAGS=$i386link
	;;
fastmath) flags="-O2 -ffast-math" ;;
cxx20) flags=-Werror std=-DCMAKE_CXX_STANDARD=20 ;;
musl)
	# musl has no C++ library of its own, and the core needs none: the
	# compiler's C++ headers over musl's C headers, linked statically, so
	# that nothing of glibc's C++ runtime comes in.  libstdc++'s headers ask for glibc's
	# version macro, which musl lacks.
	specs=/usr/lib/$(uname -m)-linux-musl/musl-gcc.specs
	if [ ! -f "$specs" ] || ! ${CXX:-g++} --version | grep -q 'g++'; then
		echo "portable.sh: no musl for g++ here (musl-tools)"
		exit 77
	fi
	version=$(${CXX:-g++} -dumpversion)
	multiarch=$(${CXX:-g++} -print-multiarch)
	printf '#define __GLIBC_PREREQ(major, minor) 0\n' >"$build/glibcprereq.h"
	flags="-specs $specs -include $build/glibcprereq.h -isystem /usr/include/c++/$version"
	flags="$flags -isystem /usr/include/$multiarch/c++/$version -Werror"
	link=-DCMAKE_EXE_LINKER_FLAGS=-static
	;;
*) echo "usage: portable.sh m32|fastmath|cxx20|musl SOURCE BUILD" >&2; exit 2 ;;
esac
# The environment's flags are the test's, not the caller's.
env -u CXXFLAGS -u CPPFLAGS -u LDFLAGS cmake -S "$src/tests/portable" -B "$build" \
	-DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_CXX_FLAGS="$flags" $std $link \
	>"$build.log" 2>&1 || { cat "$build.log"; exit 1; }
cmake --build "$build" >>"$build.log" 2>&1 || { cat "$build.log"; exit 1; }
if grep -i 'warning' "$build.log"; then
	exit 1
fi
$run "$build/portable_check"
case $mode in
m32)
	file "$build/portable_check" 2>/dev/null | grep -q '32-bit' ||
		readelf -h "$build/portable_check" | grep -q 'ELF32'
	readelf -d "$build/portable_check" | grep NEEDED
	! readelf -d "$build/portable_check" | grep -E 'NEEDED.*(libstdc\+\+|libgcc_s)'
	;;
cxx20)
	grep -q -- '-std=c++20' "$build/CMakeFiles/memglowcore.dir/flags.make"
	;;
esac
