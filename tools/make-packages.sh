#!/usr/bin/env bash
# Builds what users install into out/: talveron-update-VERSION-win32.zip and -win64.zip (the
# Windows product and its README.txt), talveron-update_VERSION_amd64.deb (the Linux programs,
# their manual pages and documentation) and talveron-update-VERSION-web.zip (the page's static
# files, as in out/web, and a README.txt on hosting them). Release builds without the tests; the
# Windows build directories are the ones .ci/windows.sh uses, and the page's the one make web
# uses, so none builds twice.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh package
root=$PWD
out=$root/out
jobs=${JOBS:-$(nproc)}

# pack PRESET DIR: builds everything of the preset in DIR, the directory it names, and packs it.
pack() {
  cmake --preset "$1" >/dev/null
  cmake --build "$root/$2" -j "$jobs" >/dev/null
  cpack_in "$2"
}

# cpack_in DIR: runs CPack in a build directory and copies its packages to out/.
cpack_in() {
  local dir=$root/$1
  rm -rf "$dir/cpack"
  # CPack reports each step on standard error; only a failure matters.
  (cd "$dir" && cpack -B "$dir/cpack" >"$dir/cpack.log" 2>&1) || { cat "$dir/cpack.log" >&2; exit 1; }
  cp "$dir"/cpack/*.zip "$dir"/cpack/*.deb "$out/" 2>/dev/null || true
}

rm -rf "$out"
mkdir -p "$out"
pack package build-package
[ -x build-package/brevanto-device ] ||
  { echo "make-packages: RtMidi was not found; the Debian package needs it" >&2; exit 1; }
pack win32 build-win32
pack win64 build-win64
# The page needs Emscripten and xterm.js from npm, which make web sees to; it rebuilds out/web.
make -s web JOBS="$jobs" >/dev/null
cpack_in build-web
ls -l "$out"
