# SPDX-License-Identifier: ISC
# shellcheck shell=sh
# Sourced by the scripts that run 32-bit x86 programs built with Debian's
# cross compiler (i686-linux-gnu).  Many x86-64 kernels run them, but not
# all: one built without IA32 emulation, or booted with it off, fails their
# execve with "Exec format error" while uname still says x86_64.  So this
# machine is asked by running a program, once, and qemu-i386-static (the
# emulator the other architectures use) runs them where the kernel cannot.
# MEMGLOW_I386=qemu forces the emulator, so that a machine that runs them
# itself can test that path too; MEMGLOW_I386=native forces the kernel.

# Linker flags for the cross toolchain's loader and C library.
i386link=-Wl,--dynamic-linker=/usr/i686-linux-gnu/lib/ld-linux.so.2,-rpath,/usr/i686-linux-gnu/lib

# i386mode DIR: prints "native" where the kernel runs 32-bit x86 programs,
# "qemu" where qemu-i386-static runs them instead, or nothing where neither
# can; the probe program is built in DIR.
i386mode() {
	probe=$1/i386probe
	[ -x "$probe" ] || {
		printf 'int main(void) { return 0; }\n' >"$1/i386probe.c"
		i686-linux-gnu-gcc -o "$probe" "$1/i386probe.c" "$i386link" >/dev/null 2>&1 || return 0
	}
	if [ "${MEMGLOW_I386:-}" != qemu ] && "$probe" 2>/dev/null; then
		echo native
	elif [ "${MEMGLOW_I386:-}" != native ] && command -v qemu-i386-static >/dev/null 2>&1 &&
		qemu-i386-static "$probe" 2>/dev/null; then
		echo qemu
	fi
}

# Why i386mode printed nothing.
i386none() {
	if [ "${MEMGLOW_I386:-}" = native ]; then
		echo "this kernel runs no 32-bit x86 program (MEMGLOW_I386=native asked for no emulator)"
	elif [ "${MEMGLOW_I386:-}" = qemu ]; then
		echo "qemu-i386-static (qemu-user-static) cannot run a 32-bit x86 program here"
	else
		echo "this kernel runs no 32-bit x86 program, and qemu-i386-static (qemu-user-static) cannot either"
	fi
}
