# Redim Jpeg: the two commands a newcomer needs (`make run`, `make test`), the quick loop
# between commits (`make check`) and a few more.
# Each target installs what is missing first, so a fresh Debian 12 machine needs nothing else.

BUILD      ?= build
SAN_BUILD  ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 600
FUZZ_TARGETS ?= imglib bmp xmp gainmap shortpath
# Paths are short. The short-path target's records outlive each input by design, which would
# make libFuzzer scan the whole heap for leaks after every input; the gcc replay checks leaks.
FUZZ_OPTIONS_shortpath = -max_len=512 -detect_leaks=0
fuzz_options = $$(case $$t in shortpath) echo '$(FUZZ_OPTIONS_shortpath)';; esac)
JOBS       ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run check package test test-sanitizers test-fuzz-replay fuzz fuzz-build screenshot clean

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

# The Debian package, $(BUILD)/redim_<version>_<architecture>.deb (CPack; see cmake/package.cmake).
package: build
	@cmake --build $(BUILD) --target package

# The quick loop between commits: build/ and its tests only, the package's among them.
check: package
	@REDIM_REQUIRE_PACKAGE=1 ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# Every test again under AddressSanitizer and UndefinedBehaviorSanitizer (windows offscreen,
# fuzz corpora and past findings replayed), then the image library's and the converter's tests
# under ThreadSanitizer. tests/sanitizers sets the options: any report fails its test.
test-sanitizers: deps
	@cmake -S . -B $(SAN_BUILD) -G Ninja -DREDIM_BUILD_GUI=ON -DREDIM_SANITIZE=address,undefined >/dev/null
	@cmake --build $(SAN_BUILD) -j $(JOBS)
	@ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS)
	@cmake -S . -B $(TSAN_BUILD) -G Ninja -DREDIM_BUILD_GUI=OFF -DREDIM_SANITIZE=thread >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS)
	@ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS) -R '^(imglib|convertimg|phase1|fuzz\.(imglib|bmp))\.'

# The window tests set QT_QPA_PLATFORM=offscreen themselves; the desktop session test needs the
# real X11 platform of its Xvfb, so ctest must not pass offscreen to every test.
test: package test-sanitizers test-fuzz-replay
	@REDIM_REQUIRE_PACKAGE=1 ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# Each fuzz target in turn for FUZZ_SECONDS seconds (libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer, clang), on a scratch corpus under $(FUZZ_BUILD)/corpus seeded from
# tests/fuzz/corpus. Crashing inputs land in $(FUZZ_BUILD)/findings/<target>/; once fixed, they
# go to tests/fuzz/regressions/<target>/, which `make test` replays.
fuzz: fuzz-build
	@failed=""; for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/findings/$$t || exit 1; \
	  cp -n tests/fuzz/corpus/$$t/* $(FUZZ_BUILD)/corpus/$$t/ || exit 1; \
	  echo "fuzz: $$t for $(FUZZ_SECONDS) s"; \
	  nice -n 10 $(FUZZ_BUILD)/tests/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 -timeout=10 \
	    -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/findings/$$t/ $(fuzz_options) \
	    $(FUZZ_BUILD)/corpus/$$t tests/fuzz/regressions/$$t || failed="$$failed $$t"; \
	done; \
	[ -z "$$failed" ] || { echo "fuzz: findings in$$failed, see $(FUZZ_BUILD)/findings/"; exit 1; }

fuzz-build: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DREDIM_FUZZ=ON -DREDIM_BUILD_GUI=OFF \
	  -DREDIM_SANITIZE=address,undefined >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) $(addprefix --target fuzz_,$(FUZZ_TARGETS))

# The committed corpora and past findings once through the libFuzzer builds: clang's
# UndefinedBehaviorSanitizer sees more than gcc's (an enum loaded with a value it cannot hold).
test-fuzz-replay: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  $(FUZZ_BUILD)/tests/fuzz_$$t -runs=0 $(fuzz_options) \
	    tests/fuzz/corpus/$$t tests/fuzz/regressions/$$t >$(FUZZ_BUILD)/replay-$$t.log 2>&1 \
	    || { cat $(FUZZ_BUILD)/replay-$$t.log; echo "test-fuzz-replay: $$t failed"; exit 1; }; \
	done

screenshot: build
	@QT_QPA_PLATFORM=offscreen $(BUILD)/tests/redim_screenshots $(BUILD)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)

# The benchmark: both phases against djpeg/cjpeg, libvips and ImageMagick on real photos, built
# in a release tree of its own (build-release); prints its tables and writes them into their
# sections of docs/performance.md.
.PHONY: bench
bench:
	@scripts/install-deps --bench
	@python3 bench/run.py $(BENCH_FLAGS)
