# Torvane: the two commands of the README.
#   make run    installs what is missing, builds and starts Torvane
#   make test   installs what is missing, builds and runs every test

BUILD_DIR ?= build
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

clean:
	rm -rf $(BUILD_DIR)
