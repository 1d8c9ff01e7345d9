#!/usr/bin/env bash
# The browser edition: the page built from a clean build-web/ with Debian's Emscripten, then the
# browser tests in Debian's headless Chromium against the simulator (tests/web/browser_test.js).
set -euo pipefail
cd "$(dirname "$0")/.."
rm -rf build-web out/web
make web
make test-web
