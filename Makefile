# A thin front for CMake.  make run ARGS="-t -s 1"; make test.
BUILD ?= build
TESTBUILD ?= build-tests
ARGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build run test clean

all: build

# Quiet unless something goes wrong, so that make run shows the report.
build:
	@scripts/deps build
	@mkdir -p $(BUILD)
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DMEMGLOW_TESTS=OFF >$(BUILD)/build.log 2>&1 && \
	 cmake --build $(BUILD) -j $(JOBS) >>$(BUILD)/build.log 2>&1 || { cat $(BUILD)/build.log; exit 1; }

run: build
	@$(BUILD)/memglow $(ARGS)

test:
	@scripts/deps test
	@cmake -S . -B $(TESTBUILD) -DCMAKE_BUILD_TYPE=Release -DMEMGLOW_TESTS=ON >/dev/null
	@cmake --build $(TESTBUILD) -j $(JOBS)
	@cd $(TESTBUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) $(TESTBUILD)
