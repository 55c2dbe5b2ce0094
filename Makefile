# Quick start: `make demo` or `make test` on a fresh Debian machine.
BUILD_DIR ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

.PHONY: deps configure build demo run test bench package clean

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
	@cmake --build $(BUILD_DIR) --target bench_testdb bench_upload bench_dbexchange
	$(BUILD_DIR)/tests/testdb/bench_testdb
	$(BUILD_DIR)/tests/firmware/bench_upload
	$(BUILD_DIR)/tests/testdb/bench_dbexchange

# The Debian package lorit-service_<version>_<arch>.deb, checked and copied here.
package: build
	@rm -f $(BUILD_DIR)/lorit-service_*.deb
	@cd $(BUILD_DIR) && { cpack -G DEB >cpack.log 2>&1 || { cat cpack.log; false; }; }
	@sh tests/install/check_install.sh deb $(BUILD_DIR)/lorit-service_*.deb >/dev/null
	@cp $(BUILD_DIR)/lorit-service_*.deb .
	@ls lorit-service_*.deb

clean:
	rm -rf $(BUILD_DIR)
