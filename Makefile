# Quick start: `make demo` or `make test` on a fresh Debian machine.
BUILD_DIR ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

.PHONY: deps configure build demo run test bench clean

deps:
	@sh tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR)

demo: build
	$(BUILD_DIR)/lorit-service-demo

run: build
	$(BUILD_DIR)/lorit-service

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 -j2

bench: configure
	@cmake --build $(BUILD_DIR) --target bench_testdb bench_dbexchange
	$(BUILD_DIR)/tests/testdb/bench_testdb
	$(BUILD_DIR)/tests/testdb/bench_dbexchange

clean:
	rm -rf $(BUILD_DIR)
