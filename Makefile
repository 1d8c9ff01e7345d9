# Quick start: `make demo` runs one update against the emulated device on a sample kit;
# `make test` builds everything and runs all tests. Both install missing Debian packages first.
# Every configuration is a preset in CMakePresets.json; `make build` uses "default". BUILD moves
# it elsewhere and CMAKE_FLAGS adds cache options (-DNAME=VALUE).
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all deps build demo test test-sanitize fuzz soak bench test-windows test-vm lab package check-all format clean web serve-web test-web

all: build

deps:
	tools/install-deps.sh base linux

$(BUILD)/CMakeCache.txt: | deps
	cmake --preset default -B $(BUILD) $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	tools/demo.sh $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Beyond the suite: sanitizer builds, bounded fuzzing, the Windows builds under Wine, and the
# Linux MIDI path in a virtual machine. CI runs them all.
test-sanitize:
	.ci/sanitize.sh

fuzz:
	.ci/fuzz.sh

# Randomized runs of the simulator: any success over an image the device stored otherwise fails
# it (tools/soak.py). A fresh seed each time unless SOAK_SEED is given; CI runs .ci/soak.sh.
SOAK_RUNS ?= 10000
SOAK_SEED ?=
SOAK_JOBS ?= 2
soak: build
	python3 tools/soak.py --build $(BUILD) --runs $(SOAK_RUNS) --jobs $(SOAK_JOBS) $(if $(SOAK_SEED),--seed $(SOAK_SEED))

# Not part of CI: timings depend on the machine. Writes docs/performance.md.
bench:
	tools/run-benchmarks.sh

test-windows:
	.ci/windows.sh

test-vm:
	.ci/vm.sh

# The VM check with the cases that are recorded, not checked (the DIN-rate port through the
# sequencer, and Wine over it): what they teach is in the docs. Not part of CI.
lab:
	VM_LAB=1 .ci/vm.sh

# The Windows ZIPs and the Debian package, in out/ (tools/make-packages.sh); .ci/package.sh
# checks them.
package:
	tools/make-packages.sh

# The browser edition: the page's static files in out/web (Emscripten, build-web/). Debian's emcc
# runs its JavaScript tools with node and finds their modules (acorn) only through NODE_PATH.
WEB_PORT ?= 8080
export NODE_PATH ?= /usr/share/nodejs
# Debian's npm comes apart from its nodejs; a Node.js that brings its own npm conflicts with it.
web:
	tools/install-deps.sh web
	command -v npm >/dev/null || tools/install-deps.sh web-npm
	cd web && npm ci --no-audit --no-fund --loglevel=error
	test -f build-web/CMakeCache.txt || emcmake cmake --preset web
	cmake --build build-web -j $(JOBS)

serve-web: web
	@echo "The page: http://localhost:$(WEB_PORT)/  (the demo: http://localhost:$(WEB_PORT)/?demo); Ctrl-C ends it"
	python3 -m http.server $(WEB_PORT) --bind 127.0.0.1 --directory out/web

# The page in headless Chromium against the native simulator: transcripts and wire logs, and the
# screenshots in build-web/screenshots; then the page as its users meet it (keyboard, axe-core,
# words, a pulled cable, waits, phone width, the pauses' cost).
test-web: build web
	node tests/web/browser_test.js
	node tests/web/page_use_test.js

check-all: test test-sanitize fuzz soak test-windows test-vm

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)
