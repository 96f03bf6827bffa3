#!/bin/sh
# SPDX-License-Identifier: ISC
# arches.sh SOURCE OUT [ARCH...]: the whole program, the stand-in and the
# release suite (unit, end-to-end, terminal and screen tests; all but the
# package, portability, memcheck and fuzz tests) cross-built for each Debian
# architecture with its cross compiler, against its own libstatgrab and
# libvterm (unpacked from Debian's packages into OUT/ARCH/sysroot), and run
# under qemu-user.  32-bit x86 runs on the machine itself where its kernel
# runs such programs, and under qemu otherwise (tests/i386.sh;
# MEMGLOW_I386=qemu forces the emulator).  Without ARCH: s390x, armhf,
# arm64, ppc64el and i386.
#
# It needs root to add the architecture to dpkg and download its packages
# the first time, and to let the kernel run the architecture's programs
# through qemu (binfmt_misc), as the tests start them; scripts/deps arch
# installs the compilers and qemu.  An architecture that cannot run here
# for want of those is left out, with a line "left out: ARCH: why".
# Prints what became of each architecture and the time it took.  Exits 1
# if one failed, 77 if none ran, 0 otherwise.
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

# qemu's name for the architecture.
qemuname() {
	case $1 in
	armhf | armel) echo arm ;;
	arm64) echo aarch64 ;;
	ppc64el) echo ppc64le ;;
	*) echo "$1" ;;
	esac
}

# Lets the kernel run the architecture's programs through qemu.  Debian
# registers no qemu for 32-bit x86 on x86-64, where the kernel is expected
# to run its programs: this script's own registration, which it takes back
# when it is done, points at qemu through a link whose name asks qemu to
# keep the programs' argv[0], as Debian's own do.  It carries this run's
# process number, so that another run at the same time, which takes its
# own back, leaves it alone.  Another run may mount binfmt_misc, or
# register Debian's qemu, at the same moment as this one.
binfmt_i386=
binfmt() {
	dir=/proc/sys/fs/binfmt_misc
	[ -e "$dir/qemu-$1" ] && return 0
	[ -e "$dir/register" ] || mount -t binfmt_misc binfmt_misc "$dir" 2>/dev/null ||
		[ -e "$dir/register" ] || return 1
	[ -e "$dir/qemu-$1" ] && return 0
	if [ "$1" = i386 ]; then
		ln -sf "$(command -v qemu-i386-static)" "$out/i386-binfmt-P"
		printf ':memglow-i386-%s:M::%s:%s:%s:OPF\n' "$$" \
			'\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00' \
			'\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff' \
			"$out/i386-binfmt-P" >"$dir/register" 2>/dev/null || return 1
		binfmt_i386=$dir/memglow-i386-$$
		return 0
	fi
	[ -f "/usr/lib/binfmt.d/qemu-$1.conf" ] || return 1
	cat "/usr/lib/binfmt.d/qemu-$1.conf" >"$dir/register" 2>/dev/null || [ -e "$dir/qemu-$1" ]
}
cleanup() {
	[ -z "$binfmt_i386" ] || echo -1 >"$binfmt_i386" 2>/dev/null || :
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

# Unpacks the architecture's libstatgrab and libvterm, with their headers.
# Returns 1, with the reason in why, where only root could get them.
sysroot() {  # sysroot ARCH DIR
	[ -f "$2/.unpacked" ] && return 0
	asroot=no
	[ "$(id -u)" -ne 0 ] || asroot=yes
	dpkg --print-foreign-architectures | grep -qx "$1" || [ "$(dpkg --print-architecture)" = "$1" ] || {
		why="dpkg does not know $1, and only root can add it (dpkg --add-architecture $1; apt-get update)"
		[ $asroot = yes ] || return 1
		dpkg --add-architecture "$1"
		"$src/scripts/apt-locked" update -qq
	}
	rm -rf "$2" "$2.debs"
	mkdir -p "$2" "$2.debs"
	packages="libstatgrab10:$1 libstatgrab-dev:$1 libvterm0:$1 libvterm-dev:$1"
	# shellcheck disable=SC2086 # a list of package names
	(cd "$2.debs" && apt-get download -qq $packages >/dev/null 2>&1) || {
		why="apt-get cannot download the $1 packages, and only root can update its lists"
		[ $asroot = yes ] || return 1
		"$src/scripts/apt-locked" update -qq
		# shellcheck disable=SC2086
		(cd "$2.debs" && apt-get download -qq $packages >/dev/null) || fail "cannot download the $1 packages"
	}
	for deb in "$2.debs"/*.deb; do
		dpkg -x "$deb" "$2"
	done
	touch "$2/.unpacked"
}

# Builds and tests one architecture: 0 passed, 1 failed, 77 left out (why
# says why).  Prints its line.
runarch() {  # runarch ARCH
	t=$(triplet "$1")
	command -v "$t-g++" >/dev/null 2>&1 || fail "no $t-g++: scripts/deps arch $1"
	q=$(qemuname "$1")
	build=$out/$1/build
	if [ "$1" = i386 ]; then
		# shellcheck source=tests/i386.sh
		. "$src/tests/i386.sh"
		mkdir -p "$out/$1"
		case $(i386mode "$out/$1") in
		native) q= ;;
		qemu) build=$build-qemu ;;
		*) why=$(i386none) && return 77 ;;
		esac
	fi
	start=$(date +%s)
	root=$out/$1/sysroot
	sysroot "$1" "$root" || return 77
	if [ -n "$q" ]; then
		command -v "qemu-$q-static" >/dev/null 2>&1 || fail "no qemu-$q-static: scripts/deps arch $1"
		binfmt "$q" || {
			why="the kernel cannot be made to run $1 programs through qemu-$q-static (binfmt_misc: as root, this script mounts it and registers qemu)"
			return 77
		}
	fi
	QEMU_LD_PREFIX=/usr/$t
	export QEMU_LD_PREFIX
	cmake -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/cross.cmake" \
		-DMEMGLOW_TRIPLET="$t" -DMEMGLOW_QEMU="$q" -DMEMGLOW_SYSROOT="$root" \
		-DMEMGLOW_MULTIARCH="$(dpkg-architecture -a"$1" -qDEB_HOST_MULTIARCH 2>/dev/null)" \
		-DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >"$build.log" 2>&1 ||
		{ cat "$build.log"; fail "$1: configure failed"; }
	cmake --build "$build" -j "$(nproc)" >>"$build.log" 2>&1 ||
		{ cat "$build.log"; fail "$1: build failed"; }
	built=$(date +%s)
	rc=0
	(cd "$build" && ctest -j "$(nproc)" --output-on-failure >"$build.test.log" 2>&1) || rc=1
	[ $rc = 0 ] || cat "$build.test.log"
	end=$(date +%s)
	how=
	[ -z "$q" ] || how=", under qemu-$q-static"
	line="$1 ($t$how): $(grep -o '[0-9]* tests failed out of [0-9]*' "$build.test.log" || echo '? tests')"
	[ $rc = 0 ] && line="$line passed" || line="$line FAILED"
	line="$line; build $((built - start)) s, tests $((end - built)) s"
	return $rc
}

failed=0 ran=0 summary=
for arch in "$@"; do
	why='' line=''
	rc=0
	runarch "$arch" || rc=$?
	case $rc in
	0) ran=1 ;;
	77) line="left out: $arch: $why" ;;
	*) ran=1 failed=1 ;;
	esac
	echo "arches.sh: $line"
	summary="$summary
$line"
done
echo "arches.sh:$summary"
[ $failed = 0 ] || exit 1
[ $ran = 1 ] || exit 77
