#!/usr/bin/env bash
# The Windows console builds, 32-bit and 64-bit, cross-compiled with MinGW-w64 against the real
# winmm and linked statically, and talveron-update-sim built for 64-bit Windows with the emulated
# MIDI service; then the tests that run them under Wine, the Linux builds as their oracle
# (tests/wine: what each executable imports, the product's runs, whole updates), and the protocol
# tests' whole runs with the Windows simulator in place of the Linux one (.ci/wine-sim.sh). The
# 32-bit product runs only where the kernel runs 32-bit programs; .ci/vm.sh always runs it. Each
# test's result is in JUnit XML in build-win64/junit/.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=lib.sh
. .ci/lib.sh
tools/install-deps.sh base windows

root=$PWD
script_started=$(date +%s.%N)
build32=$root/build-win32
build64=$root/build-win64
build64sim=$root/build-win64-sim
buildhost=$root/build-win-host

# Every wait has an end: a cold Wine prefix takes seconds, each test's runs end by themselves, and
# the protocol tests' whole runs with the Windows build take minutes.
readonly wineboot_limit=300
readonly protocol_tests_limit=900

# build PRESET DIR "TARGET...": the preset's build of the targets, in DIR, the directory it names.
build() {
  local dir=$2 targets=$3 started
  started=$(now)
  cmake --preset "$1" >/dev/null
  # shellcheck disable=SC2086 # one word a target
  cmake --build "$dir" -j "$(nproc)" --target $targets >/dev/null
  echo "built $targets in $dir in $(since "$started")"
}

build win32 "$build32" talveron-update
build win64 "$build64" talveron-update
build win64-sim "$build64sim" talveron-update-sim
# The Linux side: the tests under Wine with their oracles, and the protocol tests built to start
# .ci/wine-sim.sh as their simulator.
build win-host "$buildhost" "wine_tests protocol_tests"

# Wine: a prefix of our own in the build directory (wine_env), and no sound drivers, so that no
# MIDI port of the host machine appears. One 64-bit prefix serves both loaders: wine64 for the
# 64-bit programs, wine (from wine32) for the 32-bit ones, through the prefix's syswow64.
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
wine_env "$build64/wineprefix" win64
WINEDLLOVERRIDES+=";winealsa.drv,winepulse.drv,wineoss.drv=d"

stop_wine() {
  "$wineserver" -k >/dev/null 2>&1 || true
  timeout 30 "$wineserver" -w >/dev/null 2>&1 || true
}
trap stop_wine EXIT

# The marker names what the prefix was made with: one made before wine32 has no 32-bit system.
readonly prefix_marker=$WINEPREFIX/.talveron-ready-wow64
if [ ! -f "$prefix_marker" ]; then
  rm -rf "$WINEPREFIX"
  started=$(now)
  timeout "$wineboot_limit" "$wine" wineboot --init </dev/null >/dev/null 2>&1 ||
    { echo "FAIL: wineboot did not finish within $wineboot_limit s" >&2; exit 1; }
  timeout 60 "$wineserver" -w
  touch "$prefix_marker"
  echo "new Wine prefix in $(since "$started")"
fi
# One server for all runs: a server that has to start again costs seconds. stop_wine ends it.
"$wineserver" -p

junit=$build64/junit
logs=$build64/wine-tests
rm -rf "$junit" "$logs"
mkdir -p "$junit" "$logs"

# run_tests NAME TESTS [ARG]...: the GoogleTest executable TESTS, its results in $junit/NAME.xml and
# its output in $logs/NAME.log; a failure, or no test passed, is counted.
run_tests() {
  local name=$1 log=$logs/$1.log started status=0 passed skipped
  shift
  started=$(now)
  "$@" --gtest_output="xml:$junit/$name.xml" >"$log" 2>&1 || status=$?
  passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p' "$log")
  skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?, listed below:$/\1/p' "$log")
  if [ -n "$skipped" ]; then
    echo "SKIP $skipped test(s) of $name: $(grep -m1 -A1 ': Skipped$' "$log" | tail -n1)"
  fi
  if [ "$status" -eq 0 ] && [ "${passed:-0}" -gt 0 ]; then
    echo "ok   $name: $passed tests in $(since "$started")"
    return 0
  fi
  fail "$name (status $status, ${passed:-no} tests passed); see $log"
  grep -B2 -A30 'Failure$' "$log" | head -c 20000 >&2 || true
}

# The updates that are mostly a silent device's waits take next to no processor time: each runs
# in a process of its own beside the rest, so that they overlap it.
beside=(--gtest_filter='RealClockWaits/*')
beside_count=$("$buildhost/tests/wine_tests" "${beside[@]}" --gtest_list_tests | grep -c '^  ')
beside_pids=()
for ((shard = 0; shard < beside_count; shard++)); do
  # shellcheck disable=SC2030 # the job counts its own failures and returns them as its status
  (
    failures=0
    GTEST_TOTAL_SHARDS=$beside_count GTEST_SHARD_INDEX=$shard \
      run_tests "wine_tests-waits-$shard" "$buildhost/tests/wine_tests" "${beside[@]}"
    exit "$failures"
  ) >"$logs/beside-$shard.report" 2>&1 &
  beside_pids+=("$!")
done

run_tests wine_tests "$buildhost/tests/wine_tests" --gtest_filter='-RealClockWaits/*'

# The protocol tests that run the simulator as a program, with the Windows build under Wine (the
# in-process ones would only run the Linux code again). The Windows build runs on the real clock,
# so a silent or late device costs its full waits. Left to the Linux build's virtual time: the runs
# that are mostly a silent device's waits (the updates beside prove the Windows build's with
# their floors), the table of devices answering around the latest answer time (over two
# minutes of waits), a reply 50 ms past the listen that must land while the next record goes out
# (a thread woken that much late on a busy machine turns the run), the noisy link's table (strays
# placed milliseconds from the device's answers, and minutes of listening), and the sameness of
# repeated runs, which is virtual time's own. Also left out: the logs written to /dev/full, a
# Linux device; under Wine the simulator's writes there do not fail and it exits 0.
left_to_linux=TransferRun.SuccessOnlyWhenEveryVerdictIsItsRecords:TransferRun.EveryRecordGetsItsOwnTwentyAttempts
left_to_linux+=:HandshakeRun.SilentDeviceCostsNineteenAttempts:TransferRun.DeviceFallingSilentPartWay
left_to_linux+=:TransferRun.ReplyWhileAnAttemptGoesOutStopsItThere:TransferRun.SameCommandGivesTheSameRun
left_to_linux+=:SimOptions.LogNotWrittenAtTheEndExitsOne:TransferRun.NoisyLinkNeverEndsInAFalseSuccess
left_to_linux+=:DeviceChoiceRun.TheExitStatusAfterTheLongWaits
TALVERON_WINDOWS_SIM=$build64sim/talveron-update-sim.exe run_tests protocol_tests \
  timeout "$protocol_tests_limit" "$buildhost/tests/protocol_tests" \
  --gtest_filter="-ProtocolStagesTest.*:$left_to_linux"

started=$(now)
for shard in "${!beside_pids[@]}"; do
  status=0
  wait "${beside_pids[$shard]}" || status=$?
  cat "$logs/beside-$shard.report"
  # shellcheck disable=SC2031 # the parent's count, not the job's
  failures=$((failures + status))
done
echo "waited $(since "$started") more for the updates beside the others"

echo "results in JUnit XML:" "$junit"/*.xml
if [ "$failures" -ne 0 ]; then
  echo "windows: $failures failure(s)" >&2
  exit 1
fi
echo "windows: all checks passed in $(since "$script_started")"
