# Entry points: make run, make test, make bench, make install, make package. Each installs missing Debian
# packages first.
JOBS ?= $(shell nproc)
BUILD := build
PREFIX ?= /usr/local

.PHONY: all bootstrap configure build run test test-app test-gnome test-kde test-desktops test-sanitizers bench install package clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@test -f $(BUILD)/CMakeCache.txt || cmake --preset default

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	scripts/run-lumarex

# Every test: the application's (unit, widget, end-to-end, install), then the analytics client and the
# update-feed parser under AddressSanitizer+UBSan, and the analytics client and the pointer tracker under
# ThreadSanitizer.
test: test-app test-sanitizers

# The end-to-end tests on a headless GNOME Shell (label gnome) and a headless KWin (label kde) are among
# them, one compositor at a time.
test-app: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

# Only the headless GNOME Shell tests.
test-gnome: build
	cd $(BUILD) && ctest --output-on-failure -j 1 --timeout 300 -L gnome

# The same GNOME tests on GNOME Shell 48, in a Debian 13 root file system built once under
# build/desktops/ (about 300 MB downloaded, 1.3 GB on disk; not part of make test).
test-desktops: build
	LUMAREX_BUILD_DIR=$(BUILD) scripts/test-desktops

# Only the headless KWin tests.
test-kde: build
	cd $(BUILD) && ctest --output-on-failure -j 1 --timeout 300 -L kde

test-sanitizers: bootstrap
	@test -f build-asan/CMakeCache.txt || cmake --preset asan
	cmake --build build-asan -j $(JOBS)
	ctest --preset asan -j $(JOBS) --timeout 600
	@test -f build-tsan/CMakeCache.txt || cmake --preset tsan
	cmake --build build-tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS) --timeout 600

bench: build
	scripts/bench

# The program, its desktop entry, icons, AppStream metainfo and manual page under $(PREFIX) (DESTDIR is
# honoured for staged installs), and the KWin effect when it was built.
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)
	@if [ -f $(BUILD)/compositor/kwin/lumarex_highlight.so ]; then \
	  cmake --install $(BUILD) --prefix $(PREFIX) --component kwin-effect; fi

# build/lumarex_<version>_<arch>.deb, its library dependencies computed by dpkg-shlibdeps.
package: build
	cd $(BUILD) && cpack

clean:
	rm -rf $(BUILD) build-asan build-tsan
