# Quick start: `make demo` or `make test` on a fresh Debian machine.
BUILD_DIR ?= build
CHECK_DIR ?= build-check
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

.PHONY: deps configure build programs demo run test check bench package clean windows windows-prepare windows-test windows-installer

deps:
	@sh tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR)

# The two programs alone: the first window comes without waiting for the tests and
# benchmarks, which `make test` and `make bench` build.
programs: configure
	@cmake --build $(BUILD_DIR) --target lorit-service lorit-service-demo

demo: programs
	$(BUILD_DIR)/lorit-service-demo

run: programs
	$(BUILD_DIR)/lorit-service

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 -j4 -LE soak

# The whole suite again, soak test included, built with AddressSanitizer and
# UndefinedBehaviorSanitizer in a folder of its own.
check: deps
	@cmake -S . -B $(CHECK_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLORIT_SANITIZE=ON -DLORIT_BENCH=OFF >/dev/null
	@cmake --build $(CHECK_DIR)
	cd $(CHECK_DIR) && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure --timeout 600 -j4

bench: configure
	@cmake --build $(BUILD_DIR) --target bench_testdb bench_upload bench_dbexchange bench_traffic_log bench_startup bench_archive
	$(BUILD_DIR)/tests/app/bench_startup
	$(BUILD_DIR)/tests/testdb/bench_testdb
	$(BUILD_DIR)/tests/firmware/bench_upload
	$(BUILD_DIR)/tests/link/bench_traffic_log
	$(BUILD_DIR)/tests/testdb/bench_dbexchange
	QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/tests/archive/bench_archive

# The Debian package lorit-service_<version>_<arch>.deb, checked (by lintian too, where
# it is installed) and copied here.
package: build
	@rm -f $(BUILD_DIR)/lorit-service_*.deb
	@cd $(BUILD_DIR) && { cpack -G DEB >cpack.log 2>&1 || { cat cpack.log; false; }; }
	@sh tests/install/check_install.sh deb $(BUILD_DIR)/lorit-service_*.deb >/dev/null
	@if command -v lintian >/dev/null; then \
	  lintian --fail-on error $(BUILD_DIR)/lorit-service_*.deb && echo "lintian: no errors"; \
	else echo "lintian is not installed: the package was not checked by it"; fi
	@cp $(BUILD_DIR)/lorit-service_*.deb .
	@ls lorit-service_*.deb

# The Windows build: cross-compiled with MinGW-w64 against a Qt SDK that
# tools/windows-sdk.sh builds once into ~/.cache/lorit-service (or $$LORIT_WINDOWS_SDK);
# the first run takes about 20 minutes of two cores for it (2,500 CPU seconds). Its
# tests run under Wine.
WINDOWS_DIR ?= build-windows

windows:
	@sh tools/install-deps.sh windows
	@sdk=$$(tools/windows-sdk.sh) && \
	  cmake -S . -B $(WINDOWS_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DLORIT_BENCH=OFF \
	    -DCMAKE_TOOLCHAIN_FILE="$$sdk/lib/cmake/Qt6/qt.toolchain.cmake" \
	    -DQT_CHAINLOAD_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake -DLORIT_WINDOWS_SDK="$$sdk" >/dev/null
	@cmake --build $(WINDOWS_DIR)

# Three tests still hold the window to Linux's pixels (632x412, and the status line's
# room at that size); under Wine its fonts scale it to 575x375. Until they judge the
# window by its proportions there, they are left out of the Windows run.
WINDOWS_PIXEL_TESTS ?= ^(tst_mainwindow|tst_desktop_habits|tst_lab_day)$$

# The Windows build and the Wine prefix its tests run in: what .ci/run prepares in the
# background while the Linux tests run.
windows-prepare: windows
	@sh tools/wine-prefix.sh $(CURDIR)/$(WINDOWS_DIR)/wine "$$(tools/windows-sdk.sh)"

# Unit and page tests under Wine (Qt's offscreen platform, no display): the line is the
# virtual instrument's, since Wine cannot drive a serial port. Each test's log is
# <test>.log in its folder of the build; those of failed tests are shown. Two at a time:
# with four, Wine's slower processes once let the firmware page's cancel test see bytes
# reach the instrument after "Стоп" (one run in three; alone it passes).
windows-test: windows-prepare
	@cd $(WINDOWS_DIR) && { ctest --timeout 300 -j2 -LE "soak|pty|install" -E "$(WINDOWS_PIXEL_TESTS)" || { \
	  for t in $$(cut -d: -f2 Testing/Temporary/LastTestsFailed.log); do \
	    find tests -name "$$t.log" -exec cat {} +; done; false; }; }

# lorit-service-<version>-setup.exe: the programs, the Qt and MinGW DLLs they load,
# libxlsxwriter and the Russian guide, made by NSIS from packaging/windows.
windows-installer: windows
	@sh tools/windows-installer.sh $(WINDOWS_DIR)

clean:
	rm -rf $(BUILD_DIR) $(CHECK_DIR) $(WINDOWS_DIR)
