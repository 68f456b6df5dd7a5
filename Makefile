# The two set-up commands: `make run` and `make test`. Both install what is missing,
# configure and build first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all setup setup-test build run test test-asan test-tsan build-check bench format format-check clean

all: build

setup:
	@./scripts/setup.sh

# What the suite drives besides the program (scripts/setup.sh says what).
setup-test:
	@./scripts/setup.sh test

$(BUILD)/CMakeCache.txt:
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

build: setup $(BUILD)/CMakeCache.txt
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@./scripts/run.sh $(BUILD)/fernhold

# Our own test builds treat warnings as errors; a plain configure (a user's `make run`, a
# packager's cmake) does not.
test: setup setup-test
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFERNHOLD_WERROR=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

# The build types and compiler a packager may choose, built (tests included) but not run:
# GCC at -O3 and clang must both build our code without a warning.
build-check: setup
	@./scripts/setup.sh clang
	@cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DFERNHOLD_WERROR=ON >/dev/null
	@cmake --build build-release -j $(JOBS)
	@CXX=clang++ CC=clang cmake -S . -B build-clang -DCMAKE_BUILD_TYPE=Debug -DFERNHOLD_WERROR=ON >/dev/null
	@cmake --build build-clang -j $(JOBS)

# The same suite under the address and undefined-behaviour sanitizers, and under the
# thread sanitizer. Findings inside Mesa are suppressed (see scripts/sanitizers/). GLib's
# slice allocator hands memory between threads in chunks the sanitizers cannot follow (a
# GstBuffer freed on a streaming thread and reused for the next frame reads as a race):
# G_SLICE=always-malloc makes it use malloc, which they do follow.
# intercept_tls_get_addr=0: now and then this toolchain's leak checker crashed in its
# exit-time scan of a thread's dynamic TLS ("Tracer caught signal 11", after a block
# recorded with a range no allocation has; 2 runs in 150 of a GL test under load, none in
# 300 with this). Not recording those blocks leaves them unscanned, which only matters for
# pointers held solely in a dlopen'd library's thread-locals: Mesa's, whose findings are
# suppressed anyway.
SAN_DIR := $(CURDIR)/scripts/sanitizers
SAN_ENV := ASAN_OPTIONS=detect_leaks=1:strict_init_order=1:intercept_tls_get_addr=0 \
	LSAN_OPTIONS=suppressions=$(SAN_DIR)/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	TSAN_OPTIONS=suppressions=$(SAN_DIR)/tsan.supp:halt_on_error=1:second_deadlock_stack=1 \
	G_SLICE=always-malloc

# Sanitizer builds optimise lightly and keep line tables only: they build and run faster,
# and the reports still name files and lines.
SAN_FLAGS := -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1"

test-asan: setup setup-test
	@cmake -S . -B build-asan $(SAN_FLAGS) -DFERNHOLD_SANITIZE=address,undefined >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@cd build-asan && $(SAN_ENV) ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

test-tsan: setup setup-test
	@cmake -S . -B build-tsan $(SAN_FLAGS) -DFERNHOLD_SANITIZE=thread >/dev/null
	@cmake --build build-tsan -j $(JOBS)
	@cd build-tsan && $(SAN_ENV) ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

bench:
	@./scripts/setup.sh bench
	@cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DFERNHOLD_BENCH=ON >/dev/null
	@cmake --build build-bench -j $(JOBS) --target benchmarks
	@./scripts/run-benchmarks.sh build-bench

# The style in .clang-format, applied by Debian's clang-format to every C++ file git knows;
# format-check fails, naming the files, where it would change something.
FORMAT_FILES = git ls-files -z -- '*.cpp' '*.h'

format:
	@./scripts/setup.sh format
	@$(FORMAT_FILES) | xargs -0 clang-format -i

format-check:
	@./scripts/setup.sh format
	@$(FORMAT_FILES) | xargs -0 clang-format --dry-run -Werror

clean:
	rm -rf $(BUILD) build-bench build-asan build-tsan build-release build-clang
