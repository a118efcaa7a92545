# The two commands people use: `make run` and `make test`. Everything else is for developers.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
BUILD ?= build
CMAKE_FLAGS ?=
WERROR ?= OFF
ifeq ($(CI),true)
WERROR := ON
endif

MAKEFLAGS += --no-print-directory

.PHONY: all deps configure build run test asan bench bench-side fuzz interop format clean install uninstall deb

all: build

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALLIMER_WERROR=$(WERROR) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# The program alone (its data folder comes with it): no need to wait for tests and benchmarks.
run: configure
	@cmake --build $(BUILD) -j $(JOBS) --target tallimer
	@bash scripts/run-meter $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

asan: deps
	@cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTALLIMER_SANITIZE=ON -DTALLIMER_BENCH=OFF \
	    -DTALLIMER_WERROR=$(WERROR) $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
	    LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    ctest --output-on-failure -j $(JOBS)

bench: build
	@for b in $(BUILD)/bench/bench_core $(BUILD)/bench/bench_qt; do \
	    [ -x $$b ] && QT_QPA_PLATFORM=offscreen $$b --benchmark_min_time=0.2; done; true

# The program beside a bare Qt tray application under Xvfb, in a network namespace (root).
SIDE_SECONDS ?= 60
SIDE_ROUNDS ?= 3
bench-side: build
	@bash bench/side-by-side $(BUILD) $(SIDE_SECONDS) $(SIDE_ROUNDS)

FUZZ_SECONDS ?= 30
fuzz: deps
	@CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DTALLIMER_FUZZ=ON \
	    -DTALLIMER_BENCH=OFF >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target fuzz_targets
	@bash tests/fuzz/run-all build-fuzz/tests/fuzz $(FUZZ_SECONDS)

interop: deps
	@TALLIMER_INTEROP=1 bash scripts/install-deps
	@$(MAKE) build
	@cd $(BUILD) && TALLIMER_INTEROP=1 ctest --output-on-failure -R Interop

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

AUTOSTART ?= 1
install: build
	@DESTDIR="$(DESTDIR)" AUTOSTART=$(AUTOSTART) bash scripts/install-user $(BUILD)

uninstall:
	@bash scripts/uninstall-user

# The Debian package, in $(BUILD)/artefacts/.
deb: configure
	@cmake --build $(BUILD) -j $(JOBS) --target tallimer
	@cd $(BUILD) && cpack -G DEB >/dev/null && ls -1 $(abspath $(BUILD))/artefacts/*.deb

clean:
	@rm -rf build build-asan build-fuzz
