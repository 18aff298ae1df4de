# Torvane: the two commands of the README.
#   make run    installs what is missing, builds and starts Torvane
#   make test   installs what is missing, builds and runs every test
#   make bench  builds an optimised Torvane and measures it against a minimal relay

BUILD_DIR ?= build
BENCH_BUILD_DIR ?= build-bench
JOBS ?= 2

.PHONY: run test build deps configure bench screenshots clean

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j$(JOBS)

run: build
	@scripts/run-torvane $(BUILD_DIR)/torvane $(ARGS)

test: build
	@cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS) --timeout 300

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
	rm -rf $(BUILD_DIR)
