# Redim Jpeg: the two commands a newcomer needs (`make run`, `make test`) and a few more.
# Each target installs what is missing first, so a fresh Debian 12 machine needs nothing else.

BUILD      ?= build
SAN_BUILD  ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test test-sanitizers screenshot clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ] && [ -z "$$QT_QPA_PLATFORM" ]; then \
	  echo "make run: no display found (DISPLAY is not set); start it from a desktop session, or try 'make screenshot'."; \
	  exit 1; \
	fi
	@$(BUILD)/redim

# The image library and the converter again under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitizers: deps
	@cmake -S . -B $(SAN_BUILD) -G Ninja -DREDIM_BUILD_GUI=OFF -DREDIM_SANITIZE=address,undefined >/dev/null
	@cmake --build $(SAN_BUILD) -j $(JOBS)
	@ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS)

test: build test-sanitizers
	@QT_QPA_PLATFORM=offscreen ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

screenshot: build
	@QT_QPA_PLATFORM=offscreen $(BUILD)/tests/redim_screenshots $(BUILD)

clean:
	rm -rf $(BUILD) $(SAN_BUILD)

# The benchmark: both phases against djpeg/cjpeg, libvips and ImageMagick on real photos, built
# in a release tree of its own (build-release); prints the table and writes it to build/bench.md.
.PHONY: bench
bench:
	@scripts/install-deps --bench
	@python3 bench/run.py $(BENCH_FLAGS)
