# SPDX-License-Identifier: ISC
# A thin front for CMake.  make run ARGS="-t -s 1"; make test;
# make install PREFIX=/usr DESTDIR=/tmp/stage.
BUILD ?= build
TESTBUILD ?= build-tests
SANBUILD ?= build-sanitize
ARCHBUILD ?= build-arches
DEBBUILD ?= build-deb
# The architectures of make test-arches.
ARCHES ?= s390x armhf arm64 ppc64el i386
ARGS ?=
PREFIX ?= /usr/local
DESTDIR ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# Many tests wait on terminals, timers and servers more than they compute:
# ctest runs two for each core.
CTESTJOBS ?= $(shell echo $$(( $(JOBS) * 2 )))

.PHONY: all build run test test-busy test-twice test-release test-sanitizers test-s390x test-arches check install deb bench soak clean

all: build

# Quiet unless something goes wrong, so that make run shows the report.
build:
	@scripts/deps build
	@mkdir -p $(BUILD)
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >$(BUILD)/build.log 2>&1 && \
	 cmake --build $(BUILD) -j $(JOBS) >>$(BUILD)/build.log 2>&1 || { cat $(BUILD)/build.log; exit 1; }

run: build
	@$(BUILD)/memglow $(ARGS)

# Every test, in three parts that each run whatever became of the others,
# with a line for each at the end (tests/parts.sh): a release build with
# g++; a build with clang under AddressSanitizer and UBSan, which also runs
# the fuzz targets for a while; and the release suite on s390x under qemu.
# A part or a test that this machine cannot run is left out, and says why.
test:
	@scripts/deps test
	@sh tests/parts.sh 'release=$(RELEASE)' 'sanitizers=$(SANITIZERS)' 's390x=$(S390X)'

# make test on a busy machine: a busy loop on every core and one more
# (tests/busy.sh).
test-busy:
	@scripts/deps test
	@sh tests/busy.sh sh tests/parts.sh 'release=$(RELEASE)' 'sanitizers=$(SANITIZERS)' 's390x=$(S390X)'

# make test twice at once, as a build farm may run it, each from a fresh
# clone of this tree's HEAD, one of them in a folder of mode 0700, the
# second started 20 s after the first (tests/twice.sh): both must pass.
test-twice:
	@scripts/deps test
	@sh tests/twice.sh .

test-release:
	@scripts/deps test
	@sh tests/parts.sh 'release=$(RELEASE)'

test-sanitizers:
	@scripts/deps test
	@sh tests/parts.sh 'sanitizers=$(SANITIZERS)'

# The suite on s390x (big-endian, unsigned char) under qemu-user, where the
# machine has its cross compiler (scripts/deps test installs it on amd64).
test-s390x:
	@scripts/deps test
	@sh tests/parts.sh 's390x=$(S390X)'

# ctest in a build folder, then a line for each test that left itself out.
ctest = cd $(1) && rm -f junit.xml && { ctest --output-on-failure -j $(CTESTJOBS) --output-junit junit.xml; \
	status=$$?; sh $(CURDIR)/tests/leftout.sh junit.xml; exit $$status; }
RELEASE = cmake -S . -B $(TESTBUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null && \
	cmake --build $(TESTBUILD) -j $(JOBS) && $(call ctest,$(TESTBUILD))
SANITIZERS = CC=clang CXX=clang++ cmake -S . -B $(SANBUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	-DBUILD_TESTING=ON -DMEMGLOW_SANITIZE=ON -DMEMGLOW_FUZZ=ON -DMEMGLOW_FUZZ_SECONDS=30 >/dev/null && \
	cmake --build $(SANBUILD) -j $(JOBS) && $(call ctest,$(SANBUILD))
S390X = if command -v s390x-linux-gnu-g++ >/dev/null 2>&1; then sh tests/arches.sh . $(ARCHBUILD) s390x; \
	else echo "no s390x cross compiler here (g++-s390x-linux-gnu, on amd64 only)"; exit 77; fi

# A contributor's loop: builds the release suite's folder, then runs the
# tests whose names match the regular expression T (all by default), with
# their output where one fails.  make check T='Redraw|Shells.bash'
T ?= .
check:
	@scripts/deps test
	@cmake -S . -B $(TESTBUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null && \
	 cmake --build $(TESTBUILD) -j $(JOBS) && \
	 cd $(TESTBUILD) && ctest --output-on-failure -j $(CTESTJOBS) -R '$(T)'

# The suite on each of ARCHES, cross-built and run under qemu-user.
test-arches:
	@scripts/deps arch $(ARCHES)
	@sh tests/arches.sh . $(ARCHBUILD) $(ARCHES)

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# The Debian package, hardened, in a folder of its own (scripts/deb).
deb:
	@scripts/deps deb
	@scripts/deb $(DEBBUILD)

bench:
	@bench/run

soak:
	@bench/soak

clean:
	rm -rf $(BUILD) $(TESTBUILD) $(SANBUILD) $(ARCHBUILD) $(DEBBUILD) build-bench
