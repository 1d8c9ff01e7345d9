#!/usr/bin/env bash
# Bounded fuzzing of kit text decoding and image validation with libFuzzer. Each target starts
# from the checked-in seeds, copied to a scratch folder so that nothing new lands in the repository,
# and runs for FUZZ_SECONDS (60 by default). A crash, leak, sanitizer report or broken property
# fails the run; the input that caused it is kept in build-fuzz/artifacts/.
# Usage: .ci/fuzz.sh [TARGET]...   (targets: decode_kit_text validate_image; all when none)
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh fuzz

seconds=${FUZZ_SECONDS:-60}
build=build-fuzz # the fuzz preset's
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(decode_kit_text validate_image)
declare -A corpus=([decode_kit_text]=decode [validate_image]=validate)

cmake --preset fuzz >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/artifacts"
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

for target in "${targets[@]}"; do
  seeds=fuzz/corpus/${corpus[$target]:?unknown target $target}
  work=$scratch/$target
  cp -r "$seeds" "$work"
  echo "== fuzzing $target for ${seconds}s from $(ls "$seeds" | wc -l) seeds"
  # Inputs up to 16 KiB cross the decoder's 4 KiB file blocks. The outer timeout is a backstop
  # for a fuzzer that fails to stop by itself.
  timeout --kill-after=30 $((seconds * 2 + 60)) \
    "$build/fuzz/fuzz_$target" "$work" -max_total_time="$seconds" -max_len=16384 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/artifacts/${target}-" \
    >"$scratch/$target.log" 2>&1 || {
    status=$?
    tail -n 60 "$scratch/$target.log"
    echo "fuzz_$target failed (status $status); inputs are in $build/artifacts/" >&2
    exit 1
  }
  grep -E '^(Done|stat::(number_of_executed_units|new_units_added|peak_rss_mb))' "$scratch/$target.log"
done
echo "fuzzing: ${#targets[@]} targets, no failure"
