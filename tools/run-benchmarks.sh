#!/usr/bin/env bash
# Builds the benchmarks in build-bench, runs them on a sample kit of a 65,535-byte image and
# writes docs/performance.md. Takes about a minute; run it on an otherwise idle machine.
# Usage: tools/run-benchmarks.sh [OUTPUT]   (default docs/performance.md)
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh bench linux
output=${1:-docs/performance.md}
build=build-bench # the bench preset's

cmake --preset bench >/dev/null
cmake --build "$build" -j "$(nproc)"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/kit"
"$build/make-sample-kit" "$scratch/kit/Brevanto_bench.kit" 65535
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

echo "== decoding"
timeout 600 "$build/bench/bench_decode" "$scratch/kit/Brevanto_bench.kit" \
  --benchmark_repetitions=5 --benchmark_out="$scratch/decode.json" --benchmark_out_format=json

echo "== full update"
timeout 600 "$build/bench/bench_full_update" "$scratch/kit" \
  --benchmark_out="$scratch/full_update.json" --benchmark_out_format=json </dev/null

echo "== heap allocations"
: >"$scratch/allocations.jsonl"
for scenario in full_update device_rejects_then_accepts device_silent no_midi_devices \
  no_kit_file damaged_kit; do
  timeout 120 "$build/bench/bench_allocations" "$scenario" "$scratch/kit" </dev/null \
    | tee -a "$scratch/allocations.jsonl"
done
# The updater's own objects must not even refer to an allocation function.
nm -u --format=just-symbols $(find "$build/CMakeFiles/talveron_core.dir" -name '*.o' | sort) \
  | grep -E '^(malloc|calloc|realloc|free|aligned_alloc|posix_memalign|memalign|strn?dup|_Zn[wa].*|_Zd[la].*)$' \
  | sort -u >"$scratch/core_allocator_symbols.txt" || true

load_after=$(cut -d' ' -f1-3 /proc/loadavg)
python3 tools/performance_report.py "$scratch" "$load_before" "$load_after" >"$output"
echo "written: $output"
