#!/bin/sh
# SPDX-License-Identifier: ISC
# arches.sh SOURCE OUT [ARCH...]: the whole program, the stand-in and the
# release suite (unit, end-to-end, terminal and screen tests; all but the
# package, portability, memcheck and fuzz tests) cross-built for each Debian
# architecture with its cross compiler, against its own libstatgrab and
# libvterm (unpacked from Debian's packages into OUT/ARCH/sysroot), and run
# under qemu-user; 32-bit x86 runs on the machine itself.  Without ARCH:
# s390x, armhf, arm64, ppc64el and i386.
#
# It needs root to add the architecture to dpkg and download its packages
# the first time, and to let the kernel run the architecture's programs
# through qemu (binfmt_misc), as the tests start them; scripts/deps arch
# installs the compilers and qemu.  Prints the time each architecture took.
# Exits 77 where the kernel cannot be made to run the programs.
set -eu
src=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
shift 2
[ $# -gt 0 ] || set -- s390x armhf arm64 ppc64el i386
fail() {
	echo "arches.sh: $*" >&2
	exit 1
}

triplet() {
	case $1 in
	s390x) echo s390x-linux-gnu ;;
	armhf) echo arm-linux-gnueabihf ;;
	armel) echo arm-linux-gnueabi ;;
	arm64) echo aarch64-linux-gnu ;;
	ppc64el) echo powerpc64le-linux-gnu ;;
	i386) echo i686-linux-gnu ;;
	mips64el) echo mips64el-linux-gnuabi64 ;;
	mipsel) echo mipsel-linux-gnu ;;
	*) fail "unknown architecture: $1" ;;
	esac
}

# qemu's name for the architecture, or nothing where this machine runs its
# programs itself (32-bit x86 on x86-64).
qemuname() {
	case $1 in
	i386) [ "$(uname -m)" = x86_64 ] || echo i386 ;;
	armhf | armel) echo arm ;;
	arm64) echo aarch64 ;;
	ppc64el) echo ppc64le ;;
	*) echo "$1" ;;
	esac
}

# Lets the kernel run the architecture's programs through qemu.
binfmt() {
	dir=/proc/sys/fs/binfmt_misc
	[ -e "$dir/qemu-$1" ] && return 0
	[ -e "$dir/register" ] || mount -t binfmt_misc binfmt_misc "$dir" 2>/dev/null || return 1
	[ -e "$dir/qemu-$1" ] && return 0
	[ -f "/usr/lib/binfmt.d/qemu-$1.conf" ] || return 1
	cat "/usr/lib/binfmt.d/qemu-$1.conf" >"$dir/register" 2>/dev/null
}

# Unpacks the architecture's libstatgrab and libvterm, with their headers.
sysroot() {  # sysroot ARCH DIR
	[ -f "$2/.unpacked" ] && return 0
	dpkg --print-foreign-architectures | grep -qx "$1" || [ "$(dpkg --print-architecture)" = "$1" ] || {
		[ "$(id -u)" -eq 0 ] || fail "dpkg does not know $1: run as root, or dpkg --add-architecture $1 and apt-get update"
		dpkg --add-architecture "$1"
		apt-get update -qq
	}
	rm -rf "$2" "$2.debs"
	mkdir -p "$2" "$2.debs"
	packages="libstatgrab10:$1 libstatgrab-dev:$1 libvterm0:$1 libvterm-dev:$1"
	# shellcheck disable=SC2086 # a list of package names
	(cd "$2.debs" && apt-get download -qq $packages >/dev/null 2>&1) || {
		[ "$(id -u)" -eq 0 ] || fail "cannot download the $1 packages"
		apt-get update -qq
		# shellcheck disable=SC2086
		(cd "$2.debs" && apt-get download -qq $packages >/dev/null) || fail "cannot download the $1 packages"
	}
	for deb in "$2.debs"/*.deb; do
		dpkg -x "$deb" "$2"
	done
	touch "$2/.unpacked"
}

status=0
summary=
for arch in "$@"; do
	t=$(triplet "$arch")
	q=$(qemuname "$arch")
	command -v "$t-g++" >/dev/null 2>&1 || fail "no $t-g++: scripts/deps arch $arch"
	start=$(date +%s)
	root=$out/$arch/sysroot
	sysroot "$arch" "$root"
	if [ -n "$q" ]; then
		command -v "qemu-$q-static" >/dev/null 2>&1 || fail "no qemu-$q-static: scripts/deps arch $arch"
		if ! binfmt "$q"; then
			echo "arches.sh: cannot have the kernel run $arch programs through qemu-$q" \
				"(binfmt_misc: as root, this script mounts it and registers qemu)" >&2
			exit 77
		fi
	fi
	QEMU_LD_PREFIX=/usr/$t
	export QEMU_LD_PREFIX
	build=$out/$arch/build
	cmake -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/cross.cmake" \
		-DMEMGLOW_TRIPLET="$t" -DMEMGLOW_QEMU="$q" -DMEMGLOW_SYSROOT="$root" \
		-DMEMGLOW_MULTIARCH="$(dpkg-architecture -a"$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)" \
		-DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >"$build.log" 2>&1 ||
		{ cat "$build.log"; fail "$arch: configure failed"; }
	cmake --build "$build" -j "$(nproc)" >>"$build.log" 2>&1 ||
		{ cat "$build.log"; fail "$arch: build failed"; }
	built=$(date +%s)
	if (cd "$build" && ctest -j "$(nproc)" --output-on-failure >"$build.test.log" 2>&1); then
		result="passed"
	else
		cat "$build.test.log"
		result="FAILED"
		status=1
	fi
	end=$(date +%s)
	line="$arch ($t): $(grep -o '[0-9]* tests failed out of [0-9]*' "$build.test.log" || echo '? tests') $result; build $((built - start)) s, tests $((end - built)) s"
	echo "arches.sh: $line"
	summary="$summary
$line"
done
echo "arches.sh:$summary"
exit $status
