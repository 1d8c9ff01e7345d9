#!/usr/bin/env bash
# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer, then the threaded
# MIDI link and protocol tests under ThreadSanitizer. Any report fails the run.
# Usage: .ci/sanitize.sh [asan|tsan]...   (both when none is named)
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh sanitize linux

jobs=$(nproc)
# Every report ends the process with a failure, and leaks count as failures too.
export ASAN_OPTIONS="abort_on_error=0:halt_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

# build_with PRESET DIR: the preset's build, in the directory the preset names.
build_with() {
  cmake --preset "$1" >/dev/null
  cmake --build "$2" -j "$jobs"
}

# The test executables that run threads: the MIDI link's, the protocol's and the winmm face's.
# Should none of them be built, the whole suite runs under ThreadSanitizer.
threaded_tests() {
  local dir=$1 names=()
  for exe in midi_tests protocol_tests winmm_face_tests; do
    [ -x "$dir/tests/$exe" ] && names+=("$exe")
  done
  local IFS='|'
  echo "${names[*]}"
}

run_asan() {
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer: whole suite"
  build_with asan build-asan
  (cd build-asan && timeout 600 ctest --output-on-failure -j "$jobs")
}

run_tsan() {
  echo "== ThreadSanitizer: threaded tests"
  # clang (the tsan preset): g++ 12 with -fsanitize=thread gives false -Warray-bounds errors
  # inside std::vector.
  build_with tsan build-tsan
  local selected
  selected=$(threaded_tests build-tsan)
  if [ -n "$selected" ]; then
    # Test names carry their suite name, not their executable's: select by executable label.
    (cd build-tsan && timeout 600 ctest --output-on-failure -j "$jobs" -L "^(${selected})\$")
  else
    (cd build-tsan && timeout 600 ctest --output-on-failure -j "$jobs")
  fi
}

checks=("$@")
[ ${#checks[@]} -gt 0 ] || checks=(asan tsan)
for check in "${checks[@]}"; do
  case $check in
    asan) run_asan ;;
    tsan) run_tsan ;;
    *) echo "unknown check: $check (asan or tsan)" >&2; exit 2 ;;
  esac
done
