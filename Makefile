# Torvane: the commands of the README.
#   make run       installs what is missing, builds the program and starts it
#   make test      installs what is missing, builds everything and runs every test
#   make install   installs the program, the simulators and their files under PREFIX
#   make package   builds the Debian package torvane_<version>_<arch>.deb here
#   make bench     builds an optimised Torvane and measures it against a minimal relay

BUILD_DIR ?= build
BENCH_BUILD_DIR ?= build-bench
JOBS ?= 2
PREFIX ?= /usr/local
PROGRAMS = torvane mylaps-sim ostrak-sim

.PHONY: run test build programs install package deps configure bench screenshots clean

deps:
	@scripts/install-deps

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

# DESTDIR=<folder> installs into a staging folder instead.
install: programs
	@cmake --install $(BUILD_DIR) --prefix $(PREFIX)

package: programs
	@rm -f $(BUILD_DIR)/torvane_*.deb
	@cd $(BUILD_DIR) && (cpack -G DEB >cpack.log 2>&1 || (cat cpack.log; false))
	@cp $(BUILD_DIR)/torvane_*.deb .
	@ls torvane_*.deb

# Not a test: it measures and writes bench/RESULTS.md, and asserts nothing.
bench: deps
	@cmake -S . -B $(BENCH_BUILD_DIR) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BENCH_BUILD_DIR) -j$(JOBS) --target torvane mylaps-sim ostrak-sim \
		baseline-relay -- --no-print-directory
	@python3 bench/bench.py --build $(BENCH_BUILD_DIR) --out bench/RESULTS.md $(BENCH_ARGS)

# Renders every window into ./screenshots/*.png, without a desktop.
screenshots: build
	@BUILD_DIR=$(BUILD_DIR) scripts/screenshots

clean:
	rm -rf $(BUILD_DIR) torvane_*.deb
