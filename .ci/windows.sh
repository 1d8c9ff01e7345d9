#!/usr/bin/env bash
# The Windows console builds, 32-bit and 64-bit, cross-compiled with MinGW-w64 against the real
# winmm and linked statically. Both executables are checked for what they are and what they import;
# each is then run under Wine in scratch directories and its standard output compared byte for
# byte (the 32-bit one only where the kernel runs 32-bit programs; .ci/vm.sh always runs it).
# Then whole updates: talveron-update-sim built for 64-bit Windows with the emulated MIDI service
# runs under Wine, and its transcript and wire log must equal those of the Linux build; and the
# protocol tests' whole runs are made with it in place of the Linux one. The Windows build pauses
# in the system's own Sleep, so its waits are real: the runs that are mostly a silent device's
# waits go on beside the others.
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

# Every wait has an end: a cold Wine prefix takes seconds, a run well under one.
readonly wineboot_limit=300
readonly run_limit=60

# build PRESET DIR "TARGET...": the preset's build of the targets, in DIR, the directory it names.
build() {
  local dir=$2 targets=$3 started
  started=$(now)
  cmake --preset "$1" >/dev/null
  # shellcheck disable=SC2086 # one word a target
  cmake --build "$dir" -j "$(nproc)" --target $targets >/dev/null
  echo "built $targets in $dir in $(since "$started")"
}

# The executable must be a console program of the given kind that needs nothing but the system's
# own DLLs (no MinGW runtime beside it), takes its MIDI calls from winmm and never changes the
# system timer's resolution.
check_pe() {
  local exe=$1 kind=$2 objdump=$3 dump dlls name
  file -b "$exe" | grep -q "^$kind" || fail "$exe is not a $kind: $(file -b "$exe")"
  dump=$("$objdump" -p "$exe")
  dlls=$(sed -n 's/^\tDLL Name: //p' <<<"$dump" | tr '[:upper:]' '[:lower:]' | sort | tr '\n' ' ')
  [ "$dlls" = "kernel32.dll msvcrt.dll winmm.dll " ] ||
    fail "$exe imports $dlls instead of kernel32.dll msvcrt.dll winmm.dll"
  for name in midiInOpen midiInGetDevCapsA midiInPrepareHeader midiInAddBuffer midiInStart \
    midiInUnprepareHeader midiInClose midiOutOpen midiOutGetDevCapsA midiOutPrepareHeader \
    midiOutLongMsg midiOutUnprepareHeader midiOutClose midiInReset midiOutReset; do
    sed -n '/DLL Name: [Ww][Ii][Nn][Mm][Mm]\./,/^$/p' <<<"$dump" | grep -qw "$name" ||
      fail "$exe does not take $name from winmm"
  done
  for name in FindFirstFileA Sleep QueryPerformanceCounter QueryPerformanceFrequency; do
    grep -qw "$name" <<<"$dump" || fail "$exe does not import $name"
  done
  if grep -qw timeBeginPeriod <<<"$dump"; then
    fail "$exe changes the system timer resolution"
  fi
  echo "checked $exe: $kind, imports $dlls"
}

build win32 "$build32" talveron-update
build win64 "$build64" talveron-update
build win64-sim "$build64sim" talveron-update-sim
# The Linux side: the simulator to compare with, the sample kits, and the protocol tests built to
# start .ci/wine-sim.sh as their simulator.
build win-host "$buildhost" "talveron-update-sim make-sample-kit protocol_tests"
check_pe "$build32/talveron-update.exe" "PE32 executable (console) Intel 80386" \
  i686-w64-mingw32-objdump
check_pe "$build64/talveron-update.exe" "PE32+ executable (console) x86-64" \
  x86_64-w64-mingw32-objdump

# Wine: a prefix of our own in the build directory (wine_env), and no sound drivers, so that no
# MIDI port of the host machine appears. One 64-bit prefix serves both loaders: wine64 for the
# 64-bit programs, wine (from wine32) for the 32-bit ones, through the prefix's syswow64.
wine=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver64
wine_env "$build64/wineprefix" win64
WINEDLLOVERRIDES+=";winealsa.drv,winepulse.drv,wineoss.drv=d"

stop_wine() {
  "$wineserver" -k >/dev/null 2>&1 || true
  timeout 30 "$wineserver" -w >/dev/null 2>&1 || true
}
trap stop_wine EXIT

# Some kernels run no 32-bit program at all (the exec fails with "Exec format error" even with
# wine32 installed); the 32-bit product then runs only in the virtual machine check (.ci/vm.sh).
bits_run="32 64"
if ! "$wine32" --version >/dev/null 2>&1; then
  bits_run=64
  echo "SKIP 32-bit product runs: this machine's kernel does not execute 32-bit programs" \
    "($wine32 --version fails); .ci/vm.sh runs them"
fi

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

# Texts the program prints (tests/golden/), each last message with the blank line after it; the
# banner and the prompts come with .ci/lib.sh.
upgrade_error='' midi_in_missing='' kit_not_found='' fit_not_found='' file_open='' # by golden
for text in upgrade_error midi_in_missing kit_not_found fit_not_found; do
  golden "$text" "${text//_/-}"
  printf -v "$text" '%s\n' "${!text}"
done
golden file_open file-open
# shellcheck disable=SC2059 # the golden file is the format
printf -v opened_brevanto "$file_open" Brevanto.kit
# shellcheck disable=SC2059
printf -v opened_v2 "$file_open" brevanto_v2.kit
# shellcheck disable=SC2059
printf -v opened_upper "$file_open" BREVANTO.KIT
# Two valid records: payload 01 02 03 and payload 04 05, CR LF line ends as a release has them.
readonly valid_kit=$'00 05 01 02 03 FA FF\r\n00 04 04 05 F7 FF\r\n'

runs=$build64/wine-runs
rm -rf "$runs"
mkdir -p "$runs"
case_number=0

# check_output NAME RAW EXPECTED_FILE: standard output stays in the C runtime's text mode, so
# every line feed must arrive as CR LF, and the run ends at cmd's key-press prompt as Wine prints
# it; read as the Linux build prints it (as_linux), it must equal EXPECTED_FILE.
check_output() {
  local name=$1 raw_file=$2 expected_file=$3 raw
  read_exact raw "$raw_file"
  as_linux "$raw_file" >"$raw_file.lf" ||
    fail "$name: a line feed without CR: standard output is not in text mode"
  [[ $raw == *"$wine_prompt" ]] || fail "$name: does not end with cmd's prompt as Wine prints it"
  if cmp -s "$raw_file.lf" "$expected_file"; then
    return 0
  fi
  fail "$name: standard output differs"
  {
    echo "--- expected"
    cat -A "$expected_file"
    echo
    echo "--- actual"
    cat -A "$raw_file.lf"
    echo
  } | head -c 20000 >&2
  return 1
}

# run_wine NAME DIR OUT EXE [ARG]...: runs EXE under Wine in DIR with empty standard input;
# it must end by itself with status 0, within limit_seconds if set, else run_limit. Wine's own
# messages go to OUT.stderr. WINE_LOADER picks the 32-bit loader for the 32-bit program.
run_wine() {
  local name=$1 dir=$2 out=$3 status=0 limit=${limit_seconds:-$run_limit}
  shift 3
  (cd "$dir" && timeout "$limit" "${WINE_LOADER:-$wine}" "$@" </dev/null >"$out" \
    2>"$out.stderr") || status=$?
  if [ "$status" -eq 124 ]; then
    fail "$name: still running after $limit s"
    return 1
  fi
  [ "$status" -eq 0 ] || { fail "$name: exit status $status"; return 1; }
}

# run_case NAME EXPECTED [FILE CONTENT]...: each product, 32 and 64 bits, in a scratch directory
# holding the given files must print EXPECTED.
run_case() {
  local name=$1 expected=$2 dir out started bits loader
  shift 2
  case_number=$((case_number + 1))
  for bits in $bits_run; do
    dir=$runs/$case_number.$bits
    out=$runs/$case_number.$bits.out
    mkdir "$dir"
    local files=("$@")
    while [ ${#files[@]} -gt 0 ]; do
      printf '%s' "${files[1]}" >"$dir/${files[0]}"
      files=("${files[@]:2}")
    done
    printf '%s' "$expected" >"$out.expected"
    loader=$wine
    [ "$bits" = 32 ] && loader=$wine32
    started=$(now)
    WINE_LOADER=$loader run_wine "$name ($bits-bit)" "$dir" "$out" \
      "$root/build-win$bits/talveron-update.exe" || continue
    check_output "$name ($bits-bit)" "$out" "$out.expected" &&
      echo "ok   $name ($bits-bit, $(since "$started"))"
  done
}

started=$(now)
run_case "no kit file" "$banner$kit_not_found$linux_prompt"
run_case "name lacks the family prefix" "$banner$fit_not_found$linux_prompt" \
  Sonora.kit "$valid_kit"
run_case "bad checksum" "$banner$opened_brevanto$upgrade_error$linux_prompt" \
  Brevanto.kit $'00 05 01 02 03 FF FA\r\n'
run_case "empty kit" "$banner$opened_brevanto$upgrade_error$linux_prompt" Brevanto.kit ""
run_case "valid kit, no MIDI device" "$banner$opened_v2$midi_in_missing$linux_prompt" \
  brevanto_v2.kit "$valid_kit"
run_case "upper-case name and extension" "$banner$opened_upper$midi_in_missing$linux_prompt" \
  BREVANTO.KIT "$valid_kit"
echo "product runs under Wine took $(since "$started")"

# sim_case NAME MUST_SAY KIT_BYTES [OPTION]...: one update with the emulated service and device,
# set up by the options, on a sample kit of KIT_BYTES bytes; the Linux and the Windows build must
# print the same and send the same bytes. Only the key-press prompt differs: ours on Linux, cmd's
# under Wine (check_output). MUST_SAY, a line the Linux transcript holds, tells that the case ran
# as meant.
# The Linux build is the reference and runs on virtual time, which gives the same transcript and
# wire log as the real clock at no cost. With min_seconds=S before the call, the Windows build
# must take at least S seconds: the sum of the reply waits' floors on the real clock. With
# linux_real_clock=yes as well, the Linux build runs on the real clock and must take as long.
# limit_seconds gives the Windows build longer than run_limit, for waits that are longer.
took_less_than() { awk -v a="$1" -v b="$(now)" -v m="$2" 'BEGIN { exit !(b - a < m) }'; }
sim_case() {
  local name=$1 must_say=$2 kit_bytes=$3 base status=0 started linux_out min=${min_seconds:-0}
  local linux_clock=(--virtual-time yes)
  shift 3
  [ "${linux_real_clock:-}" != yes ] || linux_clock=()
  # Named after the case, not numbered: the cases beside the others run in subshells.
  base=$runs/update-${name//[^[:alnum:]]/-}
  mkdir -p "$base/linux" "$base/windows"
  "$buildhost/make-sample-kit" "$base/linux/Brevanto_sample.kit" "$kit_bytes"
  cp "$base/linux/Brevanto_sample.kit" "$base/windows/"

  started=$(now)
  (cd "$base/linux" && timeout "$run_limit" "$buildhost/talveron-update-sim" \
    "${linux_clock[@]}" --wire-log ../linux.wire "$@" </dev/null >../linux.out) || status=$?
  [ "$status" -eq 0 ] || { fail "$name: the Linux build ended with status $status"; return 0; }
  if [ ${#linux_clock[@]} -eq 0 ] && took_less_than "$started" "$min"; then
    fail "$name: the Linux build took $(since "$started"), less than its reply waits' $min s"
    return 0
  fi
  read_exact linux_out "$base/linux.out"
  if [[ $linux_out != *"$linux_prompt" ]] || ! grep -qxF -- "$must_say" "$base/linux.out"; then
    fail "$name: the Linux build did not run the case (no \"$must_say\" and prompt)"
    return 0
  fi

  started=$(now)
  run_wine "$name" "$base/windows" "$base/windows.out" "$build64sim/talveron-update-sim.exe" \
    --wire-log ../windows.wire "$@" || return 0
  if took_less_than "$started" "$min"; then
    fail "$name: the Windows build took $(since "$started"), less than its reply waits' $min s"
    return 0
  fi
  check_output "$name" "$base/windows.out" "$base/linux.out" || return 0
  if ! cmp -s "$base/linux.wire" "$base/windows.wire"; then
    fail "$name: the messages sent differ from the Linux build's ($base/*.wire)"
    return 0
  fi
  echo "ok   update: $name ($(since "$started"), $(wc -l <"$base/windows.wire") messages)"
}

# sim_case_beside ARG...: sim_case in a job of its own, its report kept in a file until
# collect_cases_beside prints it and counts its failures. For the cases that are mostly real-clock
# waits: they take next to no processor time, so they overlap the rest.
beside_pids=()
beside_logs=()
sim_case_beside() {
  local log=$runs/beside-${#beside_pids[@]}.log
  # shellcheck disable=SC2030 # the job counts its own failures and returns them as its status
  (failures=0; sim_case "$@"; exit "$failures") >"$log" 2>&1 &
  beside_pids+=("$!")
  beside_logs+=("$log")
}
collect_cases_beside() {
  local i status
  for i in "${!beside_pids[@]}"; do
    status=0
    wait "${beside_pids[$i]}" || status=$?
    if [ "$status" -eq 0 ]; then
      cat "${beside_logs[$i]}"
    else
      cat "${beside_logs[$i]}" >&2
      # shellcheck disable=SC2031 # the parent's count, not the job's
      failures=$((failures + status))
    fi
  done
}

# 2000 bytes make 8 records; 30 bytes make one of two hex chunks. A record attempt's verdict is
# waited for up to the device's latest answer time and the updater's margin, 6.5 s, and a run's
# closing lines wait until its last message is that old; the cases that are mostly such waits
# start first, beside the rest.
started=$(now)
# 20 unanswered attempts at record 4: at least 130 s.
min_seconds=130 limit_seconds=180 sim_case_beside "device falls silent" \
  "$(say not-responding)" 2000 --silent-from 4
# 19 handshake attempts of at least 1.5625 s each.
min_seconds=29.6 sim_case_beside "no device on the ports" "$(say not-responding)" \
  2000 --device-port none
# One lost verdict: 6.5 s before the resend, and 6.5 s of listening after the last record. The
# Linux build runs on the real clock here: nothing else proves its floors.
min_seconds=13 linux_real_clock=yes sim_case_beside "a record's verdict lost once" \
  "$(say success)" 2000 --reply 3=none
# A MIDI cable behind a driver that returns at once: each of the 93 messages costs a 100 ms step,
# and the closing listen 6.5 s.
min_seconds=15.8 sim_case_beside "a MIDI cable, the message left playing" "$(say success)" 2000 \
  --link-rate 3125 --driver async
sim_case "successful update" "$(say success)" 40960
# Probe A's 1.5625 s; probe A unanswered, the updater listens until probe B is 6.5 s old; then the
# closing listen, 6.5 s.
min_seconds=14.5 sim_case "device answers probe B only" "$(say success)" 2000 \
  --probes B
sim_case "device still resetting" "$(say resetting)" 2000 \
  --identity 0x15
sim_case "device of another family" "$(say not-matched)" \
  2000 --identity 0x34
sim_case "rejections, then acknowledged" "$(say success)" 2000 \
  --reply 2=0x20/3 --reply 4=0x21 --reply 5=0x22 --reply 6=0x24 --reply 7=0x25 --reply 3=0x23
sim_case "every attempt rejected" "$(say update-error)" 2000 --reply 3=0x20/20
sim_case "restart on the last record" "$(say restart)" 2000 --reply 8=0x77
sim_case "answers late but in time" "$(say success)" 2000 --delay-ms 20
sim_case "output unplugged" "$(say midi-out-missing)" 2000 --unplug-after 12
sim_case "only Microsoft inputs" "$(say midi-in-missing)" 2000 \
  --in-ports "Microsoft MIDI In,MICROSOFT other"
sim_case "each message plays for 150 ms" "$(say success)" 30 --busy-ms 150
# A MIDI cable: the 2000 bytes' 4,193 bytes on the wire take 1.34 s at 3,125 bytes a second, and
# a driver that blocks adds only the 92 pauses of 1 ms; the closing listen 6.5 s.
min_seconds=7.9 sim_case "a MIDI cable, midiOutLongMsg blocking" "$(say success)" 2000 \
  --link-rate 3125 --driver sync
echo "updates under Wine took $(since "$started")"

# The protocol tests that run the simulator as a program, with the Windows build under Wine (the
# in-process ones would only run the Linux code again). The Windows build runs on the real clock,
# so a silent or late device costs its full waits. Left to the Linux build's virtual time: the runs
# that are mostly a silent device's waits (the sim cases above prove the Windows build's with
# their lower bounds), the table of devices answering around the latest answer time (over two
# minutes of waits), a reply 50 ms past the listen that must land while the next record goes out
# (a thread woken that much late on a busy machine turns the run), the noisy link's table (strays
# placed milliseconds from the device's answers, and minutes of listening), and the sameness of
# repeated runs, which is virtual time's own. Also left out: the logs written to /dev/full, a Linux device; under Wine the
# simulator's writes there do not fail and it exits 0.
left_to_linux=TransferRun.SuccessOnlyWhenEveryVerdictIsItsRecords:TransferRun.EveryRecordGetsItsOwnTwentyAttempts
left_to_linux+=:HandshakeRun.SilentDeviceCostsNineteenAttempts:TransferRun.DeviceFallingSilentPartWay
left_to_linux+=:TransferRun.ReplyWhileAnAttemptGoesOutStopsItThere:TransferRun.SameCommandGivesTheSameRun
left_to_linux+=:SimOptions.LogNotWrittenAtTheEndExitsOne:TransferRun.NoisyLinkNeverEndsInAFalseSuccess
started=$(now)
left_to_linux+=:DeviceChoiceRun.TheExitStatusAfterTheLongWaits
if TALVERON_WINDOWS_SIM=$build64sim/talveron-update-sim.exe timeout 900 \
  "$buildhost/tests/protocol_tests" --gtest_filter="-ProtocolStagesTest.*:$left_to_linux" \
  >"$runs/protocol_tests.log" 2>&1; then
  passed=$(grep -c '^\[       OK \]' "$runs/protocol_tests.log" || true)
  if [ "$passed" -gt 0 ]; then
    echo "ok   protocol tests' whole runs with the Windows build ($(since "$started"): $passed tests)"
  else
    fail "no protocol test ran with the Windows build; see $runs/protocol_tests.log"
  fi
else
  fail "protocol tests' whole runs with the Windows build; see $runs/protocol_tests.log"
  grep -A30 '^\[ RUN\|Failure' "$runs/protocol_tests.log" | head -c 20000 >&2 || true
fi

started=$(now)
collect_cases_beside
echo "waited $(since "$started") more for the updates beside the others"

if [ "$failures" -ne 0 ]; then
  echo "windows: $failures failure(s)" >&2
  exit 1
fi
echo "windows: all checks passed in $(since "$script_started")"
