# The two commands a fresh Debian machine needs: `make run` and `make test`.
PRESET ?= default
BUILD_DIR := $(if $(filter default,$(PRESET)),build,build-$(PRESET))
# Warnings fail the build in CI; locally they are only shown.
WERROR := $(if $(CI),ON,OFF)

.PHONY: all deps configure build test run clean

all: build

deps:
	bash scripts/install-deps

configure: deps
	cmake --preset $(PRESET) -DMIRTOLK_WERROR=$(WERROR)

build: configure
	cmake --build --preset $(PRESET)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure

# Opens the window; with no display at all, shows it working on a virtual one
# instead and saves a screenshot to $(BUILD_DIR)/mirtolk.png.
run: build
	@if [ -n "$${DISPLAY:-}$${WAYLAND_DISPLAY:-}" ]; then \
	  $(BUILD_DIR)/window/mirtolk; \
	else \
	  bash scripts/run-headless $(BUILD_DIR); \
	fi

clean:
	rm -rf build build-*
