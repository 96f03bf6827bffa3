# SPDX-License-Identifier: ISC
# How memglow's own code is compiled, and its pure core (everything but the
# library edge): shared by the program's build and the portability checks
# (tests/portable).  MEMGLOW_SOURCE_DIR is the top of the tree.
include(CheckCXXCompilerFlag)
include(CheckLinkerFlag)

# A packager's -DCMAKE_CXX_STANDARD=20 stands.
if(NOT DEFINED CMAKE_CXX_STANDARD)
  set(CMAKE_CXX_STANDARD 17)
endif()
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

# CMake takes CFLAGS, CXXFLAGS and LDFLAGS from the environment at the first
# configure, but not CPPFLAGS, where distributions put -D_FORTIFY_SOURCE.
set(MEMGLOW_CPPFLAGS "$ENV{CPPFLAGS}" CACHE STRING
  "Preprocessor flags for every compilation; CPPFLAGS at the first configure")
separate_arguments(memglow_cppflags UNIX_COMMAND "${MEMGLOW_CPPFLAGS}")
add_compile_options(${memglow_cppflags})

# Each flag below is one that g++ and clang take; other compilers get those
# of them they take.
function(memglow_compile_flag flag)
  string(MAKE_C_IDENTIFIER "MEMGLOW_CXX${flag}" ok)
  check_cxx_compiler_flag("${flag}" ${ok})
  if(${ok})
    add_compile_options("${flag}")
  endif()
endfunction()

# Warnings on.  The program needs nothing from the C++ runtime: no
# exceptions, no RTTI, no iostreams, no allocation.
foreach(flag -Wall -Wextra -Wpedantic -fno-exceptions -fno-rtti)
  memglow_compile_flag(${flag})
endforeach()
# IEEE arithmetic whatever a user's CXXFLAGS say: -ffast-math would take out
# the checks for NaN and infinity that keep figures and delays sound.
memglow_compile_flag(-fno-fast-math)
# The count checks' reports name the source file: as src/bargraph.cpp, not
# as the path of the tree the binary was built in.
check_cxx_compiler_flag(-fmacro-prefix-map=a=b MEMGLOW_CXX_MACRO_PREFIX_MAP)
if(MEMGLOW_CXX_MACRO_PREFIX_MAP)
  add_compile_options(-fmacro-prefix-map=${MEMGLOW_SOURCE_DIR}/=)
endif()
# Nor does the build folder's path go into the debugging information, so that
# two builds of one tree in two folders give the same binary.
check_cxx_compiler_flag(-fdebug-prefix-map=a=b MEMGLOW_CXX_DEBUG_PREFIX_MAP)
if(MEMGLOW_CXX_DEBUG_PREFIX_MAP)
  add_compile_options(-fdebug-prefix-map=${PROJECT_BINARY_DIR}=.)
endif()

add_library(memglowcore STATIC
  ${MEMGLOW_SOURCE_DIR}/src/cmdline.cpp
  ${MEMGLOW_SOURCE_DIR}/src/figures.cpp
  ${MEMGLOW_SOURCE_DIR}/src/bargraph.cpp
  ${MEMGLOW_SOURCE_DIR}/src/classic.cpp
  ${MEMGLOW_SOURCE_DIR}/src/layouts.cpp
  ${MEMGLOW_SOURCE_DIR}/src/format.cpp
  ${MEMGLOW_SOURCE_DIR}/src/frames.cpp
  ${MEMGLOW_SOURCE_DIR}/src/rules.cpp
  ${MEMGLOW_SOURCE_DIR}/src/session.cpp
  ${MEMGLOW_SOURCE_DIR}/src/signals.cpp
  ${MEMGLOW_SOURCE_DIR}/src/terminal.cpp)
target_include_directories(memglowcore PUBLIC ${MEMGLOW_SOURCE_DIR}/src)

# Links a program of memglow's without the C++ runtime: nothing in it is
# used, and the helpers that 32-bit targets need for 64-bit division come
# from the static libgcc.
check_linker_flag(CXX -Wl,--as-needed MEMGLOW_LD_AS_NEEDED)
check_linker_flag(CXX -static-libgcc MEMGLOW_LD_STATIC_LIBGCC)
check_linker_flag(CXX -fno-fast-math MEMGLOW_LD_NO_FAST_MATH)
function(memglow_program target)
  if(MEMGLOW_LD_AS_NEEDED)
    target_link_options(${target} PRIVATE -Wl,--as-needed)
  endif()
  if(MEMGLOW_LD_STATIC_LIBGCC)
    target_link_options(${target} PRIVATE -static-libgcc)
  endif()
  if(MEMGLOW_LD_NO_FAST_MATH)
    target_link_options(${target} PRIVATE -fno-fast-math)
  endif()
endfunction()
