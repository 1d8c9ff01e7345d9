#!/usr/bin/env bash
# The Windows console builds, 32-bit and 64-bit, cross-compiled with MinGW-w64 against the real
# winmm and linked statically. Both executables are checked for what they are and what they import;
# the 64-bit one is then run under Wine in scratch directories and its standard output compared
# byte for byte. The 32-bit one is not run: this machine has no 32-bit Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh windows

root=$PWD
build32=$root/build-win32
build64=$root/build-win64
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)

# Every wait has an end: a cold Wine prefix takes seconds, a run well under one.
readonly wineboot_limit=300
readonly run_limit=60

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f s", b - a }'; }

build_windows() {
  local dir=$1 toolchain=$2 started
  started=$(now)
  cmake -S "$root" -B "$dir" "${generator[@]}" -DCMAKE_TOOLCHAIN_FILE="$root/$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DTALVERON_WERROR=ON -DTALVERON_TESTS=OFF "${@:3}" >/dev/null
  cmake --build "$dir" -j "$(nproc)" >/dev/null
  echo "built $dir/talveron-update.exe in $(since "$started")"
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
    midiOutLongMsg midiOutUnprepareHeader midiOutClose; do
    sed -n '/DLL Name: [Ww][Ii][Nn][Mm][Mm]\./,/^$/p' <<<"$dump" | grep -qw "$name" ||
      fail "$exe does not take $name from winmm"
  done
  for name in FindFirstFileA Sleep; do
    grep -qw "$name" <<<"$dump" || fail "$exe does not import $name"
  done
  if grep -qw timeBeginPeriod <<<"$dump"; then
    fail "$exe changes the system timer resolution"
  fi
  echo "checked $exe: $kind, imports $dlls"
}

build_windows "$build32" cmake/toolchain-mingw-i686.cmake
build_windows "$build64" cmake/toolchain-mingw-x86_64.cmake
check_pe "$build32/talveron-update.exe" "PE32 executable (console) Intel 80386" \
  i686-w64-mingw32-objdump
check_pe "$build64/talveron-update.exe" "PE32+ executable (console) x86-64" \
  x86_64-w64-mingw32-objdump

# Wine: a prefix of our own in the build directory, no debug chatter, the C locale (cmd's pause
# prompt is translated), and no sound drivers, so that no MIDI port of the host machine appears.
# Mono and Gecko are not wanted and not installed; winemenubuilder has no desktop to serve.
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
export WINEPREFIX=$build64/wineprefix
export WINEARCH=win64
export WINEDEBUG=-all
export LC_ALL=C LANG=C
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winealsa.drv,winepulse.drv,wineoss.drv=d"
unset DISPLAY WAYLAND_DISPLAY

stop_wine() {
  "$wineserver" -k >/dev/null 2>&1 || true
  timeout 30 "$wineserver" -w >/dev/null 2>&1 || true
}
trap stop_wine EXIT

if [ ! -f "$WINEPREFIX/.talveron-ready" ]; then
  rm -rf "$WINEPREFIX"
  started=$(now)
  timeout "$wineboot_limit" "$wine" wineboot --init </dev/null >/dev/null 2>&1 ||
    { echo "FAIL: wineboot did not finish within $wineboot_limit s" >&2; exit 1; }
  timeout 60 "$wineserver" -w
  touch "$WINEPREFIX/.talveron-ready"
  echo "new Wine prefix in $(since "$started")"
fi

# Texts the program prints, and the prompt of cmd's "pause" as Wine prints it with standard input
# at its end: no line break follows, since no key ever comes. (Windows' own cmd prints
# "Press any key to continue . . . " and a line break after the key.)
readonly banner=$'TALVERON Update V0.5 -> TALVERON Brevanto System\n'
readonly prompt='Press any key to continue... '
readonly upgrade_error=$'Error: The upgrade file is error!\n\n'
readonly midi_in_missing=$'Error: The MIDI In of device is missing!\n\n'
# Two valid records: payload 01 02 03 and payload 04 05, CR LF line ends as a release has them.
readonly valid_kit=$'00 05 01 02 03 FA FF\r\n00 04 04 05 F7 FF\r\n'

runs=$build64/wine-runs
rm -rf "$runs"
mkdir -p "$runs"
case_number=0

# run_case EXE NAME EXPECTED [FILE CONTENT]...: runs EXE under Wine in a scratch directory holding
# the given files, with empty standard input, and checks that it ends by itself with status 0
# and prints EXPECTED. Standard output stays in the C runtime's text mode, so every line feed must
# arrive as CR LF; the comparison is made with one CR taken off each line end.
run_case() {
  local exe=$1 name=$2 expected=$3 dir out status=0 started raw
  shift 3
  case_number=$((case_number + 1))
  dir=$runs/$case_number
  out=$runs/$case_number.out
  mkdir "$dir"
  while [ $# -gt 0 ]; do
    printf '%s' "$2" >"$dir/$1"
    shift 2
  done
  started=$(now)
  (cd "$dir" && timeout "$run_limit" "$wine" "$exe" </dev/null >"$out.raw" 2>"$out.stderr") ||
    status=$?
  if [ "$status" -eq 124 ]; then
    fail "$name: still running after $run_limit s"
    return
  fi
  [ "$status" -eq 0 ] || fail "$name: exit status $status"
  raw=$(cat "$out.raw"; echo .)
  if [[ $raw == $'\n'* || $raw == *[!$'\r']$'\n'* ]]; then
    fail "$name: a line feed without CR: standard output is not in text mode"
  fi
  sed 's/\r$//' "$out.raw" >"$out"
  printf '%s' "$expected" >"$out.expected"
  if cmp -s "$out" "$out.expected"; then
    echo "ok   $name ($(since "$started"))"
  else
    fail "$name: standard output differs"
    echo "--- expected" >&2
    cat -A "$out.expected" >&2
    echo >&2
    echo "--- actual" >&2
    cat -A "$out" >&2
    echo >&2
  fi
}

exe=$build64/talveron-update.exe
started=$(now)
run_case "$exe" "no kit file" "$banner"$'Error: File \'*.kit\' is not found.\n\n'"$prompt"
run_case "$exe" "name lacks the family prefix" \
  "$banner"$'Error: The fit file is not found.\n\n'"$prompt" Sonora.kit "$valid_kit"
run_case "$exe" "bad checksum" \
  "$banner"$'OK: File \'Brevanto.kit\' is open.\n'"$upgrade_error$prompt" \
  Brevanto.kit $'00 05 01 02 03 FF FA\r\n'
run_case "$exe" "empty kit" \
  "$banner"$'OK: File \'Brevanto.kit\' is open.\n'"$upgrade_error$prompt" Brevanto.kit ""
run_case "$exe" "valid kit, no MIDI device" \
  "$banner"$'OK: File \'brevanto_v2.kit\' is open.\n'"$midi_in_missing$prompt" \
  brevanto_v2.kit "$valid_kit"
run_case "$exe" "upper-case name and extension" \
  "$banner"$'OK: File \'BREVANTO.KIT\' is open.\n'"$midi_in_missing$prompt" \
  BREVANTO.KIT "$valid_kit"
echo "Wine runs took $(since "$started")"

if [ "$failures" -ne 0 ]; then
  echo "windows: $failures failure(s)" >&2
  exit 1
fi
echo "windows: all checks passed"
