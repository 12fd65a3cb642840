# Entry points: make run, make test, make bench. Each installs missing Debian packages first.
JOBS ?= $(shell nproc)
BUILD := build

.PHONY: all bootstrap configure build run test test-app test-sanitizers bench clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@test -f $(BUILD)/CMakeCache.txt || cmake --preset default

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	scripts/run-lumarex

# Every test: the application's (unit, widget, end-to-end) and the analytics client's under both sanitizers.
test: test-app test-sanitizers

test-app: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

test-sanitizers: bootstrap
	@test -f build-asan/CMakeCache.txt || cmake --preset asan
	cmake --build build-asan -j $(JOBS)
	ctest --preset asan -j $(JOBS) --timeout 600
	@test -f build-tsan/CMakeCache.txt || cmake --preset tsan
	cmake --build build-tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS) --timeout 600

bench: build
	scripts/bench

clean:
	rm -rf $(BUILD) build-asan build-tsan
