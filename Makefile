# SPDX-License-Identifier: ISC
# A thin front for CMake.  make run ARGS="-t -s 1"; make test;
# make install PREFIX=/usr DESTDIR=/tmp/stage.
BUILD ?= build
TESTBUILD ?= build-tests
SANBUILD ?= build-sanitize
ARCHBUILD ?= build-arches
# The architectures of make test-arches.
ARCHES ?= s390x armhf arm64 ppc64el i386
ARGS ?=
PREFIX ?= /usr/local
DESTDIR ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build run test test-s390x test-arches install bench soak clean

all: build

# Quiet unless something goes wrong, so that make run shows the report.
build:
	@scripts/deps build
	@mkdir -p $(BUILD)
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >$(BUILD)/build.log 2>&1 && \
	 cmake --build $(BUILD) -j $(JOBS) >>$(BUILD)/build.log 2>&1 || { cat $(BUILD)/build.log; exit 1; }

run: build
	@$(BUILD)/memglow $(ARGS)

# Every test twice: a release build with g++, then a build with clang under
# AddressSanitizer and UBSan, which also runs the fuzz targets for a while.
test:
	@scripts/deps test
	@cmake -S . -B $(TESTBUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
	@cmake --build $(TESTBUILD) -j $(JOBS)
	@cd $(TESTBUILD) && ctest --output-on-failure -j $(JOBS)
	@CC=clang CXX=clang++ cmake -S . -B $(SANBUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DBUILD_TESTING=ON -DMEMGLOW_SANITIZE=ON -DMEMGLOW_FUZZ=ON -DMEMGLOW_FUZZ_SECONDS=30 >/dev/null
	@cmake --build $(SANBUILD) -j $(JOBS)
	@cd $(SANBUILD) && ctest --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory test-s390x

# The suite on s390x (big-endian, unsigned char) under qemu-user, where the
# machine has its cross compiler (scripts/deps test installs it on amd64).
test-s390x:
	@if command -v s390x-linux-gnu-g++ >/dev/null 2>&1; then \
	  sh tests/arches.sh . $(ARCHBUILD) s390x; status=$$?; \
	  if [ $$status -eq 77 ]; then echo "make test: SKIPPED the s390x run (see above)"; \
	  elif [ $$status -ne 0 ]; then exit $$status; fi; \
	else echo "make test: no s390x cross compiler here: the s390x run is left out"; fi

# The suite on each of ARCHES, cross-built and run under qemu-user.
test-arches:
	@scripts/deps arch $(ARCHES)
	@sh tests/arches.sh . $(ARCHBUILD) $(ARCHES)

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

bench:
	@bench/run

soak:
	@bench/soak

clean:
	rm -rf $(BUILD) $(TESTBUILD) $(SANBUILD) $(ARCHBUILD) build-bench
