# The two set-up commands: `make run` and `make test`. Both install what is missing,
# configure and build first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all setup build run test bench clean

all: build

setup:
	@./scripts/setup.sh

$(BUILD)/CMakeCache.txt:
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

build: setup $(BUILD)/CMakeCache.txt
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@./scripts/run.sh $(BUILD)/fernhold

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

bench:
	@./scripts/setup.sh bench
	@cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DFERNHOLD_BENCH=ON >/dev/null
	@cmake --build build-bench -j $(JOBS) --target benchmarks
	@./scripts/run-benchmarks.sh build-bench

clean:
	rm -rf $(BUILD) build-bench
