# Torvane: the commands of the README.
#   make run       installs what is missing, builds the program and starts it
#   make test      installs what is missing, builds everything and runs every test
#   make programs  builds the program and the two simulators (as yourself, before make install)
#   make install   installs what make programs built under PREFIX (as root for /usr/local)
#   make uninstall removes what make install put under PREFIX
#   make package   builds the Debian package torvane_<version>_<arch>.deb here
#   make bench     builds an optimised Torvane and measures it against two minimal relays
#                  (BENCH_ARGS='--part normal' or '--part slow-disk' runs one part only)
#   make asan, make tsan, make fuzz   the checked builds that CI runs after make test

BUILD_DIR ?= build
BENCH_BUILD_DIR ?= build-bench
ASAN_BUILD_DIR ?= build-asan
TSAN_BUILD_DIR ?= build-tsan
FUZZ_BUILD_DIR ?= build-fuzz
FUZZ_SECONDS ?= 30
JOBS ?= 2
PREFIX ?= /usr/local
PROGRAMS = torvane mylaps-sim ostrak-sim
SANITIZER_FILES := $(CURDIR)/tests/sanitizers
# Checked builds: line tables only and light optimisation, enough for the sanitizers' stack
# traces, and quicker to build than full debug information.
CHECKED_FLAGS := -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"

.PHONY: run test build programs install uninstall package deps configure bench screenshots \
	clean asan tsan fuzz

# The set of Debian packages each target asks for (scripts/install-deps): what building and
# running needs, what the tests add, and what the checked builds and the tools around them add.
DEPS_SET = run
test build screenshots: DEPS_SET = test
asan tsan fuzz bench: DEPS_SET = checked

deps:
	@scripts/install-deps $(DEPS_SET)

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j$(JOBS)

# The program and the two simulators, without the tests and the benchmark.
programs: configure
	@cmake --build $(BUILD_DIR) -j$(JOBS) --target $(PROGRAMS) -- --no-print-directory

run: configure
	@cmake --build $(BUILD_DIR) -j$(JOBS) --target torvane -- --no-print-directory
	@scripts/run-torvane $(BUILD_DIR)/torvane $(ARGS)

test: build
	@cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS) --timeout 300

# Installs what is built, never building nor configuring: run as root, it must not leave files
# of root's in a build folder that a user owns. DESTDIR=<folder> installs into a staging folder.
install:
	@scripts/install-built $(BUILD_DIR) $(PREFIX)

uninstall:
	@scripts/uninstall-built $(PREFIX)

package: programs
	@rm -f $(BUILD_DIR)/torvane_*.deb
	@cd $(BUILD_DIR) && (cpack -G DEB >cpack.log 2>&1 || (cat cpack.log; false))
	@cp $(BUILD_DIR)/torvane_*.deb .
	@ls torvane_*.deb

# The whole suite with AddressSanitizer and UndefinedBehaviorSanitizer; any finding fails it.
asan: deps
	@cmake -S . -B $(ASAN_BUILD_DIR) $(CHECKED_FLAGS) -DTORVANE_SANITIZE=address,undefined >/dev/null
	@cmake --build $(ASAN_BUILD_DIR) -j$(JOBS) -- --no-print-directory
	@cd $(ASAN_BUILD_DIR) && QT_QPA_PLATFORM=offscreen \
		ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1 \
		LSAN_OPTIONS=suppressions=$(SANITIZER_FILES)/lsan.supp:print_suppressions=0 \
		UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		ctest --output-on-failure -j$(JOBS) --timeout 600

# The core tests with ThreadSanitizer.
tsan: deps
	@cmake -S . -B $(TSAN_BUILD_DIR) $(CHECKED_FLAGS) -DTORVANE_SANITIZE=thread >/dev/null
	@cmake --build $(TSAN_BUILD_DIR) -j$(JOBS) --target torvane_core_tests -- --no-print-directory
	@TORVANE_TOOLS_DIR=$(CURDIR)/$(TSAN_BUILD_DIR)/bin \
		TSAN_OPTIONS=suppressions=$(SANITIZER_FILES)/tsan.supp:halt_on_error=1:second_deadlock_stack=1:history_size=7 \
		tests/sanitizers/tsan-core-tests $(TSAN_BUILD_DIR)/tests/torvane_core_tests

# Each libFuzzer target for FUZZ_SECONDS on its seed corpus (clang).
fuzz: deps
	@cmake -S . -B $(FUZZ_BUILD_DIR) $(CHECKED_FLAGS) -DTORVANE_FUZZ=ON \
		-DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
	@cmake --build $(FUZZ_BUILD_DIR) -j$(JOBS) --target fuzz_targets -- --no-print-directory
	@tests/fuzz/run-all $(FUZZ_BUILD_DIR) $(FUZZ_SECONDS)

# Not a test: it measures and writes bench/RESULTS.md, and asserts nothing.
bench: deps
	@cmake -S . -B $(BENCH_BUILD_DIR) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BENCH_BUILD_DIR) -j$(JOBS) --target torvane mylaps-sim ostrak-sim \
		baseline-relay slow-flush -- --no-print-directory
	@python3 -B bench/bench.py --build $(BENCH_BUILD_DIR) --out bench/RESULTS.md $(BENCH_ARGS)

# Renders every window into ./screenshots/*.png, without a desktop.
screenshots: build
	@BUILD_DIR=$(BUILD_DIR) scripts/screenshots

clean:
	rm -rf $(BUILD_DIR) $(ASAN_BUILD_DIR) $(TSAN_BUILD_DIR) $(FUZZ_BUILD_DIR) torvane_*.deb
