# The two commands a fresh Debian machine needs: `make run` and `make test`.
PRESET ?= default
BUILD_DIR := $(if $(filter default,$(PRESET)),build,build-$(PRESET))
# Warnings fail the build in CI; locally they are only shown.
WERROR := $(if $(CI),ON,OFF)

.PHONY: all deps configure build test bench clean

all: build

deps:
	bash scripts/install-deps

configure: deps
	cmake --preset $(PRESET) -DMIRTOLK_WERROR=$(WERROR)

build: configure
	cmake --build --preset $(PRESET)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure

# Medians of a few repetitions of each benchmark, then the two ratios the build
# is held to. Timings are only comparable within one run.
bench: build
	$(BUILD_DIR)/bench/mirtolk_bench --benchmark_repetitions=7 --benchmark_report_aggregates_only=true

clean:
	rm -rf build build-*
