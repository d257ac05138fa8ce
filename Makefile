# The two commands a fresh Debian machine needs: `make run` and `make test`.
PRESET ?= default
BUILD_DIR := $(if $(filter default,$(PRESET)),build,build-$(PRESET))
# Warnings fail the build in CI; locally they are only shown.
WERROR := $(if $(CI),ON,OFF)

# `make fuzz` runs the fuzzer this many seconds.
FUZZ_SECONDS ?= 60

.PHONY: all deps configure build test run bench sanitize fuzz tsan cross-check package package-test test-debian13 clean

all: build

deps:
	bash scripts/install-deps

configure: deps
	cmake --preset $(PRESET) -DMIRTOLK_WERROR=$(WERROR)

build: configure
	cmake --build --preset $(PRESET)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer; any
# report fails the run.
sanitize: deps
	cmake --preset sanitize -DMIRTOLK_WERROR=$(WERROR)
	cmake --build --preset sanitize
	ctest --preset sanitize

# New inputs go to build-fuzz/corpus; the committed seeds are only read.
# max_len admits texts past 32,767 code units; rss_limit leaves room for the
# 191 MiB table and the sanitizers' overhead.
fuzz: deps
	cmake --preset fuzz -DMIRTOLK_WERROR=$(WERROR)
	cmake --build --preset fuzz
	mkdir -p build-fuzz/corpus build-fuzz/crashes
	build-fuzz/tests/fuzz/query_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=140000 \
	  -timeout=10 -rss_limit_mb=2048 -dict=tests/fuzz/query.dict \
	  -artifact_prefix=build-fuzz/crashes/ -print_final_stats=1 build-fuzz/corpus tests/fuzz/corpus

# The build paths under ThreadSanitizer at 1, 2, 3, 4, 8 threads and more;
# any report fails the run. Clang 14's TSan cannot place its shadow memory
# where a kernel with high-entropy ASLR maps programs, so the tests run with
# address randomisation off (setarch -R) for the build, whose test discovery
# runs the tests, and for the run.
tsan: deps
	cmake --preset tsan -DMIRTOLK_WERROR=$(WERROR)
	setarch $$(uname -m) -R cmake --build --preset tsan
	setarch $$(uname -m) -R ctest --preset tsan

# The table on 64-bit ARM (cross-built, under qemu-user) and on every x86-64
# path, held bit for bit against the plain build on x86-64; and no build with
# floating point wider than double. Warnings are errors: the cross builds are
# the proof that the guards hold.
cross-check:
	bash scripts/install-deps cross
	bash scripts/cross-check -DMIRTOLK_WERROR=ON

# Opens the window; with no display at all, shows it working on a virtual one
# instead and saves a screenshot to $(BUILD_DIR)/mirtolk.png.
run: build
	@if [ -n "$${DISPLAY:-}$${WAYLAND_DISPLAY:-}" ]; then \
	  $(BUILD_DIR)/window/mirtolk; \
	else \
	  bash scripts/run-headless $(BUILD_DIR); \
	fi

# Medians of a few repetitions of each benchmark, then the two ratios the build
# is held to. Timings are only comparable within one run.
bench: build
	$(BUILD_DIR)/bench/mirtolk_bench --benchmark_repetitions=7 --benchmark_report_aggregates_only=true

# The Debian package dist/mirtolk_VERSION_ARCH.deb, built with debhelper in a
# copy of the tree under build-package/ and checked with lintian,
# hardening-check, appstreamcli and desktop-file-validate before it lands.
package:
	bash scripts/package

# The package from dist/ in a clean Debian 12 tree: installed with only its
# declared dependencies, run on Xvfb, purged, and nothing left behind.
package-test:
	bash scripts/install-deps package
	bash tests/package_install.sh bookworm

# `CI=true make test` on a fresh clone of HEAD in a minimal Debian 13 tree
# (needs root and Debian's archive; the tree is cached in ~/.cache/mirtolk).
test-debian13:
	bash scripts/install-deps debian13
	bash scripts/test-debian13

clean:
	rm -rf build build-* dist
