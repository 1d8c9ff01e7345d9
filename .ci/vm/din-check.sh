# shellcheck shell=bash disable=SC2154,SC2034 # sourced: settings come from .ci/vm.sh and the jobs before
# Sourced by check.sh: the cases on the DIN-rate port (guest-din.sh), against the host cable's own
# log of what it carried (din-pacer.py). The Linux product's raw MIDI path must update every kit
# as the emulated run does, no faster than the wire, and end by itself on a pulled cable; the
# sequencer path and Wine's are documented. Ends with a table of every case. The kernel reports
# the overrun lines its rate limit held back only with its next such line, so a case's last few
# can count in the next case that overruns.
[ -n "$din_kits" ] || return 0
din_rate=3125
din_log="$cable_dir/pacer.log"
# wire CASE DIRECTION FIELD: the cable's count for the case, one way (to-device, to-uart): FIELD
# 1 is the bytes carried, 2 and 3 the wire's times of the first and the last, in seconds.
wire() {
    [ -f "$din_log" ] || { echo 0; return 0; }
    awk -v c="$1" -v d="$2" -v f="$3" '$1 == c && $2 == d { v = $(2 + f) } END { print v + 0 }' \
        "$din_log"
}
din_time() { awk -v c="$1" '$1 == c { print $2 }' "$wine_out/din-times" 2>/dev/null || true; }
# at_least A B: A >= B, as decimals.
at_least() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a >= b) }'; }
# outcome FILE: the last of the program's closing messages or a record's error answers in the
# transcript, by its golden file's name; "none" without one.
declare -A closing=()
for message in success not-responding midi-out-missing midi-in-missing update-error \
    upgrade-error not-matched resetting restart crc-error damaged; do
    closing[$(say "$message")]=$message
done
outcome() {
    local line found=none
    while IFS= read -r line; do
        [ -n "$line" ] && [ -n "${closing[$line]+set}" ] && found=${closing[$line]}
    done < <(tr '\r' '\n' <"$1")
    echo "$found"
}
din_rows=()
# row NAME KIT PATH: the case's line in the table.
row() {
    local result status
    result=$(outcome "$build/$1.out")
    status=$(cat "$wine_out/$1.status" 2>/dev/null || echo none)
    if [ "$status" = 124 ]; then
        [ "$result" = none ] && result="cut off" || result="cut off after $result"
    fi
    din_rows+=("$(printf '| %-4s | %-9s | %-25s | %7s | %7s | %7s | %8s |' "$2" "$3" "$result" \
        "$(din_time "$1")" "$(wire "$1" to-device 1)" "$(on_wire "$1")" \
        "$(cat "$wine_out/$1.overruns" 2>/dev/null)")")
}
# on_wire NAME: the wire's time from the first byte to the device to the last.
on_wire() {
    awk -v a="$(wire "$1" to-device 2)" -v b="$(wire "$1" to-device 3)" \
        'BEGIN { printf "%.2f", b - a }'
}
# show NAME: the case's transcript, wire and standard error.
show() {
    echo "== $1 ($(din_time "$1") s in the guest; the cable carried $(wire "$1" to-device 1) bytes" \
        "to the device in $(on_wire "$1") s and $(wire "$1" to-uart 1) back;" \
        "$(cat "$wine_out/$1.overruns" 2>/dev/null) overrun(s) logged by the kernel)"
    visible <"$build/$1.out"
    echo "    device: $(tail -n 1 "$wine_out/$1.device" 2>/dev/null)"
    [ -s "$wine_out/$1.err" ] && echo "    standard error: $(head -c 400 "$wine_out/$1.err")"
    return 0
}
# paced NAME: every direction of the case took the wire's time at least, and the guest's run at
# least the time of the bytes it sent.
paced() {
    local direction bytes
    for direction in to-device to-uart; do
        bytes=$(wire "$1" $direction 1)
        [ "$bytes" -gt 0 ] || continue
        at_least "$(awk -v a="$(wire "$1" $direction 2)" -v b="$(wire "$1" $direction 3)" \
            'BEGIN { print b - a }')" "$(awk -v n="$bytes" -v r=$din_rate 'BEGIN { print (n - 1) / r }')" ||
            fail "$1: the cable carried $bytes bytes $direction faster than 3,125 a second"
    done
    bytes=$(wire "$1" to-device 1)
    at_least "$(din_time "$1")" "$(awk -v n="$bytes" -v r=$din_rate 'BEGIN { print n / r }')" ||
        fail "$1: took $(din_time "$1") s in the guest for $bytes bytes on the wire"
}

echo
[ -f "$wine_out/din-finished" ] || fail "the DIN-rate runs did not finish"
grep '^din' "$wine_out/notes" 2>/dev/null && fail "the DIN-rate runs reported problems above"
echo "== DIN-rate port: cards and sequencer clients in the guest"
sed 's/^/    /' "$wine_out/din.cards" "$wine_out/din.clients" 2>/dev/null || true

# The raw MIDI path: every kit as the emulated run updates it, the image flashed, standard error
# empty, the wire's pace held. As over USB, probe A arrives cut short: a device that reads a MIDI
# byte stream ends a System Exclusive message at its first byte above 0x7F and does not answer
# it, so the emulated run's device answers probe B only.
for kit in $din_kits; do
    name=din-raw-$kit
    payload=${din_kit_options[$kit]#--payload }
    mkdir -p "$sim_dir/$name"
    cp "$share/din/$kit/$kit_name" "$sim_dir/$name/"
    (cd "$sim_dir/$name" && "$build/talveron-update-sim" --virtual-time yes \
        --in-ports "Brevanto MIDI" --out-ports "Brevanto MIDI" --wire-log "$sim_dir/$name.wire" \
        --probes B </dev/null >"$sim_dir/$name.out")
    sed "s/^$probe_a\$/F0 4C 2E/" "$sim_dir/$name.wire" >"$sim_dir/$name.cut"
    cp "$wine_out/$name.out" "$build/$name.out" 2>/dev/null || : >"$build/$name.out"
    show "$name"
    row "$name" "$kit" raw
    status=$(cat "$wine_out/$name.status" 2>/dev/null || echo none)
    [ "$status" = 0 ] || fail "$name: exit status $status"
    printf '%s' "$banner$file_open$devices$(successful_transfer "${din_kit_bytes[$kit]}" \
        "${payload:-256}")"$'\n\n'"$prompt" >"$build/$name.expected"
    cmp -s "$build/$name.expected" "$build/$name.out" ||
        fail "$name: transcript differs from the expected one:" \
            "$(diff <(visible <"$build/$name.expected") <(visible <"$build/$name.out"))"
    cmp -s "$sim_dir/$name.out" "$build/$name.out" ||
        fail "$name: transcript differs from the emulated run's"
    [ -s "$wine_out/$name.err" ] && fail "$name: standard error is not empty"
    cmp -s "$sim_dir/$name.cut" "$wine_out/$name.received" ||
        fail "$name: the device received other messages than the emulated run sends" \
            "($(wc -l <"$wine_out/$name.received" 2>/dev/null) against $(wc -l <"$sim_dir/$name.cut"))"
    tr -d '\r\n' <"$share/din/$kit/$kit_name" >"$build/$name.kit.hex"
    hex "$wine_out/$name.flashed" >"$build/$name.flashed.hex" 2>/dev/null || true
    cmp -s "$build/$name.kit.hex" "$build/$name.flashed.hex" ||
        fail "$name: the device did not flash the kit's image"
    paced "$name"
done

# The sequencer path, while another client holds the raw device, and the 32-bit Windows product
# under Wine, whose winmm sends through the sequencer too: what they do is recorded, not checked.
for kit in $din_kits; do
    name=din-seq-$kit
    cp "$wine_out/$name.out" "$build/$name.out" 2>/dev/null || : >"$build/$name.out"
    show "$name"
    row "$name" "$kit" sequencer
done
name=din-wine32-$din_wine_kit
if [ -f "$wine_out/$name.status" ]; then
    as_linux "$wine_out/$name.out" >"$build/$name.out" 2>/dev/null || true
    show "$name"
    row "$name" "$din_wine_kit" "Wine 32"
fi

# The cable pulled part way through a record: the port stops taking bytes, the chunk on it does
# not leave within its time on the wire plus the program's allowance of 1 s, and the send fails:
# the program ends by itself on the missing-Out message and the prompt, never a success. 5 s
# after the pull bounds it, with room for what the cable's socket took before it stalled (under
# 0.1 s) and for a slow guest.
name=din-pull-$din_pull_kit
cp "$wine_out/$name.out" "$build/$name.out" 2>/dev/null || : >"$build/$name.out"
after=$(din_time "$name-after-pull")
show "$name"
echo "    ended $after s after the pull"
row "$name" "$din_pull_kit" "raw, pull"
status=$(cat "$wine_out/$name.status" 2>/dev/null || echo none)
[ "$status" = 0 ] || fail "$name: exit status $status (124: still running after 240 s)"
[ "$(outcome "$build/$name.out")" = midi-out-missing ] ||
    fail "$name: ended on '$(outcome "$build/$name.out")', not the missing MIDI Out"
awk -v a="${after:-999}" 'BEGIN { exit !(a <= 5) }' ||
    fail "$name: took $after s after the pull (at most 5)"
text=$(cat "$build/$name.out"; echo .)
text=${text%.}
[[ $text == *$'\n\n'"$prompt" ]] || fail "$name: does not end with the prompt"
[ "$(wire "$name" to-device 1)" -gt $((din_pull_bytes / 2)) ] ||
    fail "$name: the cable was not pulled part way through the transfer"

echo
echo "== DIN-rate port: the cases (the run's time in the guest; the bytes the cable carried to the"
echo "   device and its time from the first to the last; the kernel's MIDI output buffer overruns)"
echo "| kit  | path      | outcome                   | time, s | wire, B | wire, s | overruns |"
echo "|------|-----------|---------------------------|---------|---------|---------|----------|"
printf '%s\n' "${din_rows[@]}"
