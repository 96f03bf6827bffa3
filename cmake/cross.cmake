# SPDX-License-Identifier: ISC
# A toolchain file for another Debian architecture: its cross compiler
# (g++-TRIPLET), its libraries unpacked into MEMGLOW_SYSROOT, and the tests
# run under qemu-user (tests/arches.sh sets all three):
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/cross.cmake -DMEMGLOW_TRIPLET=s390x-linux-gnu
#         -DMEMGLOW_QEMU=s390x -DMEMGLOW_SYSROOT=DIR ...
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${MEMGLOW_QEMU})
# try_compile runs this file again, in a project of its own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MEMGLOW_TRIPLET MEMGLOW_QEMU MEMGLOW_SYSROOT)

set(CMAKE_C_COMPILER ${MEMGLOW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${MEMGLOW_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH ${MEMGLOW_SYSROOT} /usr/${MEMGLOW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config finds the architecture's libstatgrab and libvterm alone.
set(ENV{PKG_CONFIG_DIR} "")
set(ENV{PKG_CONFIG_LIBDIR}
  "${MEMGLOW_SYSROOT}/usr/lib/${MEMGLOW_TRIPLET}/pkgconfig:${MEMGLOW_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${MEMGLOW_SYSROOT})

# The programs find the unpacked libraries where they are, and qemu the
# architecture's C library under /usr/TRIPLET (QEMU_LD_PREFIX, which the
# programs that the tests start inherit).
set(CMAKE_BUILD_RPATH ${MEMGLOW_SYSROOT}/usr/lib/${MEMGLOW_TRIPLET})
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${MEMGLOW_QEMU}-static)
