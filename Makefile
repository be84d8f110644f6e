# Front door of the build: `make` builds, `make test` installs what is missing and runs every
# test, `make demo` installs what the programs need and records from the simulated device.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
ifdef CI
CMAKE_FLAGS += -DTAPEWREN_WERROR=ON
endif
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: bench-build all deps deps-build configure reconfigure test test-asan test-tsan test-windows fuzz tidy demo bench install package package-windows clean

all: configure
	cmake --build $(BUILD) -j 2

configure:
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) $(GENERATOR) $(CMAKE_FLAGS)

deps:
	@scripts/install-deps.sh

# The compiler and CMake alone: enough for the programs, without the test libraries.
deps-build:
	@scripts/install-deps.sh --build

# A build configured before the test libraries were installed picks them up now.
reconfigure:
	@if test -f $(BUILD)/CMakeCache.txt; then cmake -S . -B $(BUILD) >/dev/null; fi

test: deps reconfigure
	@$(MAKE) --no-print-directory all
	ctest --test-dir $(BUILD) --output-on-failure -j 2 -LE wine

# Every test again, the end-to-end ones included, on a build with AddressSanitizer and
# UndefinedBehaviorSanitizer: any report fails the run.
test-asan: deps
	@test -f $(BUILD)-asan/CMakeCache.txt || cmake --preset asan $(GENERATOR) $(if $(CI),-DTAPEWREN_WERROR=ON)
	cmake --build $(BUILD)-asan -j 2
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(BUILD)-asan --output-on-failure -j 2 -LE wine

# Every test again, the end-to-end ones included, on a build with ThreadSanitizer: a data race
# or a lock taken in two orders fails the run.
test-tsan: deps
	@test -f $(BUILD)-tsan/CMakeCache.txt || cmake --preset tsan $(GENERATOR) $(if $(CI),-DTAPEWREN_WERROR=ON)
	cmake --build $(BUILD)-tsan -j 2
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --test-dir $(BUILD)-tsan --output-on-failure -j 2 -LE wine

# libFuzzer targets, each run for FUZZ_SECONDS (default 60).
fuzz:
	@scripts/install-deps.sh --analysis
	@scripts/fuzz.sh $(BUILD)-fuzz

# clang-tidy over the program's sources, warnings as errors (checks in .clang-tidy).
tidy: configure
	@scripts/install-deps.sh --analysis
	@scripts/tidy.sh $(BUILD)

# The Windows build, cross-compiled with mingw-w64 and tested under Wine.
test-windows: all
	@scripts/install-deps.sh --windows
	@scripts/test-windows.sh $(BUILD) $(BUILD)-windows

# TAPE=file.tap (or a dump file) plays that tape instead of the built-in one. Builds only the
# two programs the demo runs.
demo: deps-build configure
	cmake --build $(BUILD) -j 2 --target tapewren-record tapewren-sim
	@scripts/demo.sh $(BUILD) $(TAPE)

# The recorder's costs and the name feed's throughput, in one table (docs/BENCHMARKS.md).
# BENCH_ARGS="--mib 8 --idle-seconds 5 --presses 5" gives a quick run.
bench-build: all
	cmake --build $(BUILD) --target record_bench feed_bench

bench: deps reconfigure
	@$(MAKE) --no-print-directory all
	@test -x $(BUILD)/bench/record_bench || { echo "Google Benchmark (libbenchmark-dev) is needed for make bench" >&2; exit 1; }
	$(BUILD)/bench/record_bench $(BENCH_ARGS)

# PREFIX=/usr/local by default; the manual pages go to PREFIX/share/man/man1.
PREFIX ?= /usr/local
install: all
	cmake --install $(BUILD) --prefix $(PREFIX)

# A Debian package (dependencies computed by dpkg-shlibdeps), checked by installing it into
# a scratch root.
package: all
	@scripts/install-deps.sh --package
	cd $(BUILD) && cpack -G DEB
	@scripts/check-package.sh $(BUILD)

# The Windows zip: the .exe files and README-windows.txt.
package-windows:
	@scripts/install-deps.sh --windows
	@scripts/package-windows.sh $(BUILD)-windows

clean:
	rm -rf $(BUILD) $(BUILD)-windows $(BUILD)-asan $(BUILD)-tsan $(BUILD)-fuzz
