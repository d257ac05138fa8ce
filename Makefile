# The two commands a fresh Debian machine needs: `make run` and `make test`.
PRESET ?= default
BUILD_DIR := $(if $(filter default,$(PRESET)),build,build-$(PRESET))
# Warnings fail the build in CI; locally they are only shown.
WERROR := $(if $(CI),ON,OFF)

.PHONY: all deps configure build test sanitize clean

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

clean:
	rm -rf build build-*
