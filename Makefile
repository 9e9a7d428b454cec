# Redim Jpeg: the two commands a newcomer needs (`make run`, `make test`) and a few more.
# Each target installs what is missing first, so a fresh Debian 12 machine needs nothing else.

BUILD      ?= build
SAN_BUILD  ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 600
FUZZ_TARGETS ?= imglib bmp shortpath
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test test-sanitizers fuzz screenshot clean

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

# Each fuzz target in turn for FUZZ_SECONDS seconds (libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer, clang), on a scratch corpus under $(FUZZ_BUILD)/corpus seeded from
# tests/fuzz/corpus. Crashing inputs land in $(FUZZ_BUILD)/findings/<target>/; once fixed, they
# go to tests/fuzz/regressions/<target>/, which `make test` replays. Paths are short, and the
# short-path target's records outlive each input by design, which would make libFuzzer scan the
# whole heap for leaks after every input (the replay in `make test` still checks for leaks).
fuzz:
	@scripts/install-deps --fuzz
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DREDIM_FUZZ=ON -DREDIM_BUILD_GUI=OFF \
	  -DREDIM_SANITIZE=address,undefined >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) $(addprefix --target fuzz_,$(FUZZ_TARGETS))
	@failed=""; for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/findings/$$t || exit 1; \
	  cp -n tests/fuzz/corpus/$$t/* $(FUZZ_BUILD)/corpus/$$t/ || exit 1; \
	  extra=""; [ $$t = shortpath ] && extra="-max_len=512 -detect_leaks=0"; \
	  echo "fuzz: $$t for $(FUZZ_SECONDS) s"; \
	  nice -n 10 $(FUZZ_BUILD)/tests/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 -timeout=10 \
	    -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/findings/$$t/ $$extra \
	    $(FUZZ_BUILD)/corpus/$$t tests/fuzz/regressions/$$t || failed="$$failed $$t"; \
	done; \
	[ -z "$$failed" ] || { echo "fuzz: findings in$$failed, see $(FUZZ_BUILD)/findings/"; exit 1; }

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
