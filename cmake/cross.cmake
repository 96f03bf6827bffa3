# SPDX-License-Identifier: ISC
# A toolchain file for another Debian architecture: its cross compiler
# (g++-TRIPLET), its libraries unpacked into MEMGLOW_SYSROOT, and the tests
# run under qemu-user (tests/arches.sh sets all three):
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/cross.cmake -DMEMGLOW_TRIPLET=s390x-linux-gnu
#         -DMEMGLOW_QEMU=s390x -DMEMGLOW_SYSROOT=DIR ...
# MEMGLOW_MULTIARCH is Debian's name for the libraries' folder, where it is
# not the triplet (i386-linux-gnu for i686-linux-gnu).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${MEMGLOW_QEMU})
# try_compile runs this file again, in a project of its own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MEMGLOW_TRIPLET MEMGLOW_QEMU MEMGLOW_SYSROOT
  MEMGLOW_MULTIARCH)
if(NOT MEMGLOW_MULTIARCH)
  set(MEMGLOW_MULTIARCH ${MEMGLOW_TRIPLET})
endif()

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
  "${MEMGLOW_SYSROOT}/usr/lib/${MEMGLOW_MULTIARCH}/pkgconfig:${MEMGLOW_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${MEMGLOW_SYSROOT})

# The programs find the unpacked libraries where they are, and qemu the
# architecture's C library under /usr/TRIPLET (QEMU_LD_PREFIX, which the
# programs that the tests start inherit).  Without MEMGLOW_QEMU, this
# machine runs them itself (32-bit x86 on x86-64), with the architecture's
# dynamic loader and C library from the cross toolchain.
set(CMAKE_BUILD_RPATH ${MEMGLOW_SYSROOT}/usr/lib/${MEMGLOW_MULTIARCH})
if(MEMGLOW_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${MEMGLOW_QEMU}-static -L /usr/${MEMGLOW_TRIPLET})
else()
  file(GLOB loader /usr/${MEMGLOW_TRIPLET}/lib/ld-linux*.so.*)
  list(GET loader 0 loader)
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--dynamic-linker=${loader}")
  list(APPEND CMAKE_BUILD_RPATH /usr/${MEMGLOW_TRIPLET}/lib)
endif()
