# shellcheck shell=bash disable=SC2154,SC2034 # sourced: settings come from .ci/vm.sh and the jobs before
# Sourced by .ci/vm.sh after boot.sh: compares what the guest printed and wrote with the expected
# transcripts, the emulated runs' transcripts and wire logs, and the kit's image, and ends the
# check with its verdict.

# block NAME: the bytes the guest printed between the markers of NAME.
block() {
    awk -v begin="@@@ BEGIN $1" -v end="@@@ END $1" \
        '$0 == end { on = 0 } on { print } $0 == begin { on = 1 }' "$console.txt" | base64 -d
}
visible() { sed -e 's/\r/\\r/g' -e 's/^/    /'; }

# The expected transcripts, built from the same rules the updater follows; the banner and the
# prompt come with .ci/lib.sh, the other whole lines from tests/golden/.
golden file_open file-open
# shellcheck disable=SC2059 # the golden file is the format
printf -v file_open "$file_open" "$kit_name"
port_in='' port_out='' progress_format='' transfer_done='' # set by golden
golden port_in port-in
golden port_out port-out
devices=$port_in$port_out
golden progress_format progress
golden transfer_done transfer-done
golden no_in midi-in-missing
no_in+=$'\n'
golden not_responding not-responding
golden not_matched not-matched
prompt=$linux_prompt
spinner='--\\||//'
# shellcheck disable=SC2059
progress() { printf "$progress_format" "${spinner:$1:1}" "$2"; }
# record_sizes [BYTES [PAYLOAD]]: a sample kit's records as make-sample-kit writes them, the kit's
# 256 payload bytes each by default: full ones, and where one would leave less than a record
# behind, a shorter one before the last.
record_sizes() {
    local left=${1:-$kit_bytes} payload=${2:-256} size
    while [ "$left" -gt 0 ]; do
        size=$((left < payload + 4 ? left : payload + 4))
        [ $((left - size)) -gt 0 ] && [ $((left - size)) -lt 4 ] && size=$((left - 4))
        echo "$size"
        left=$((left - size))
    done
}
# successful_transfer [BYTES [PAYLOAD]]: the progress lines and the success of such a kit.
successful_transfer() {
    local bytes=${1:-$kit_bytes} acknowledged=0 spin=0
    for size in $(record_sizes "$@"); do
        progress $spin $((acknowledged * 100 / bytes))
        spin=$(((spin + 1) % 8))
        acknowledged=$((acknowledged + size))
    done
    printf '%s%s' "$transfer_done" "$(say success)"
}

declare -A expected=(
    [no-sequencer]="$banner$file_open$no_in$prompt"
    [no-device]="$banner$file_open$no_in$prompt"
    [owner-only]="$banner$file_open$no_in$prompt"
    [no-permission]="$banner$file_open$no_in$prompt"
    [success]="$banner$file_open$devices$(successful_transfer)"$'\n\n'"$prompt"
    [silent]="$banner$file_open$devices"$'\n'"$not_responding"$'\n'"$prompt"
    [wrong-kind]="$banner$file_open$devices$not_matched"$'\n'"$prompt"
)

# Standard error: empty, but for the one line that says why a run ends without a device.
# The guest's sequencer node is /dev/snd/seq, as the golden lines say.
err_no_sequencer='' err_no_device='' err_owner_only='' err_group_only='' # set by golden
golden err_no_sequencer alsa-no-sequencer
golden err_no_device alsa-no-device
golden err_owner_only alsa-owner-only
golden err_group_only alsa-group-only
declare -A expected_err=(
    [no-sequencer]="talveron-update: $err_no_sequencer"
    [no-device]="talveron-update: $err_no_device"
    [owner-only]="talveron-update: $err_owner_only"
    [no-permission]="talveron-update: $err_group_only"
)

sim_dir="$build/sim"
rm -rf "$sim_dir"
mkdir -p "$sim_dir"
cp "$stage/kit/$kit_name" "$sim_dir/"
# The same case on the emulated service: what it sends is what the device must have received.
# It runs on virtual time, which gives the same transcript and messages as the real clock without
# a silent device's waits.
# emulated_run CASE [NAME [OPTION]...]: extra options after the case's own, results under NAME.
emulated_run() {
    local case=$1 name=${2:-$1}
    (cd "$sim_dir" && "$build/talveron-update-sim" --virtual-time yes --in-ports "Brevanto MIDI" \
        --out-ports "Brevanto MIDI" --wire-log "$sim_dir/$name.wire" ${options[$case]} \
        "${@:3}" </dev/null >"$sim_dir/$name.out")
}

check_case() {
    local case=$1
    block "$case.out" >"$build/$case.out"
    block "$case.err" >"$build/$case.err"
    echo "== $case ($(awk -v c="$case" '$1 == "@@@" && $2 == "TIME" && $3 == c { print $4 }' \
        "$console.txt") s in the guest)"
    visible <"$build/$case.out"
    if [ -n "${expected[$case]+set}" ]; then
        printf '%s' "${expected[$case]}" >"$build/$case.expected"
        cmp -s "$build/$case.expected" "$build/$case.out" ||
            fail "$case: transcript differs from the expected one:" \
                "$(diff <(visible <"$build/$case.expected") <(visible <"$build/$case.out"))"
    fi
    printf '%s' "${expected_err[$case]:-}" >"$build/$case.expected-err"
    cmp -s "$build/$case.expected-err" "$build/$case.err" ||
        fail "$case: standard error is not the expected:" "$(cat "$build/$case.err")"
    return 0
}
check_device_case() {
    local case=$1
    check_case "$case"
    emulated_run "$case"
    cmp -s "$sim_dir/$case.out" "$build/$case.out" ||
        fail "$case: transcript differs from the emulated run's"
    block "$case.received" >"$build/$case.received"
    cmp -s "$sim_dir/$case.wire" "$build/$case.received" ||
        fail "$case: the device received other messages than the emulated run sends" \
            "($(wc -l <"$build/$case.received") against $(wc -l <"$sim_dir/$case.wire"))"
    echo "    device: $(block "$case.device" | tail -n 1)"
}

echo
echo "== sequencer clients in the guest"
block clients | sed 's/^/    /'
grep '^@@@ NOTE' "$console.txt" && fail "the guest reported problems above"
check_case no-sequencer
check_case no-device
check_case owner-only
check_case no-permission
echo "== brevanto-device without a sequencer"
block device-no-sequencer.err | visible
device_status=$(awk '$1 == "@@@" && $2 == "STATUS" && $3 == "device-no-sequencer" { print $4 }' \
    "$console.txt")
[ "$device_status" = 1 ] || fail "brevanto-device without a sequencer exits '$device_status', not 1"
printf 'brevanto-device: %s' "$err_no_sequencer" \
    >"$build/device-no-sequencer.expected-err"
cmp -s "$build/device-no-sequencer.expected-err" <(block device-no-sequencer.err) ||
    fail "brevanto-device without a sequencer does not say why in one line"
for case in $cases; do
    check_device_case "$case"
done
# A keyboard that answers nothing listed before the Brevanto: --list marks the keyboard as the
# bare run's choice, and the run with --port Brevanto is the emulated one with both devices,
# ends with status 0, and sends the keyboard nothing.
status_of() { awk -v c="$1" '$1 == "@@@" && $2 == "STATUS" && $3 == c { print $4 }' "$console.txt"; }
block chosen-list.out >"$build/chosen-list.out"
block chosen-list.err >"$build/chosen-list.err"
echo "== chosen-list (exit status $(status_of chosen-list))"
visible <"$build/chosen-list.out"
[ "$(status_of chosen-list)" = 0 ] || fail "chosen-list: exit status $(status_of chosen-list)"
[ "$(grep -c '^\*.*USB Keyboard' "$build/chosen-list.out")" = 2 ] &&
    [ "$(grep -c '^ .*Brevanto MIDI' "$build/chosen-list.out")" = 2 ] ||
    fail "chosen-list: does not mark the keyboard as the bare run's In and Out, the Brevanto apart"
[ -s "$build/chosen-list.err" ] && fail "chosen-list: standard error: $(cat "$build/chosen-list.err")"
check_case chosen
sim_status=0
(cd "$sim_dir" && "$build/talveron-update-sim" --virtual-time yes \
    --in-ports "USB Keyboard,Brevanto MIDI" --out-ports "USB Keyboard,Brevanto MIDI" \
    --wire-log "$sim_dir/chosen.wire" --port Brevanto --exit-status </dev/null \
    >"$sim_dir/chosen.out") || sim_status=$?
[ "$(status_of chosen)" = 0 ] && [ "$sim_status" = 0 ] ||
    fail "chosen: exit status $(status_of chosen), the emulated run's $sim_status"
cmp -s "$sim_dir/chosen.out" "$build/chosen.out" ||
    fail "chosen: transcript differs from the emulated run's:" \
        "$(diff <(visible <"$sim_dir/chosen.out") <(visible <"$build/chosen.out"))"
cmp -s "$sim_dir/chosen.wire" <(block chosen.received) ||
    fail "chosen: the Brevanto received other messages than the emulated run sends"
echo "    device: $(block chosen.device | tail -n 1)"
[ -z "$(block chosen-keyboard.received)" ] ||
    fail "chosen: the keyboard received $(block chosen-keyboard.received | wc -l) messages"
# The flashed image is the kit's image byte for byte.
tr -d '\r\n' <"$stage/kit/$kit_name" >"$build/kit.hex"
for case in success chosen; do
    hex <(block $case.flashed) >"$build/$case.flashed.hex"
    cmp -s "$build/kit.hex" "$build/$case.flashed.hex" ||
        fail "$case: the device did not flash the kit's image"
done

# The Windows products under Wine: standard output is in text mode, so every line feed must come
# as CR LF; with one CR taken off each and cmd's prompt as Wine prints it (no key ever comes, so
# no line break follows) in place of ours, it must equal the Linux product's transcript.
wine_out="$share/out"
wine_crashes=""
# wine_status NAME BITS: the run must have ended by itself with status 0. 64-bit Wine crashes at
# the exit of some runs that opened a MIDI port, after everything is done (status 139, a SIGSEGV
# in its ALSA MIDI notification thread); the program that only opens and closes the ports as the
# updater does crashes the same way, 32-bit Wine never. Such a run counts apart, as Wine's, since
# its transcript, received log and image are still checked; the 32-bit runs must end with 0.
wine_status() {
    local status
    status=$(cat "$wine_out/$1.status" 2>/dev/null || echo none)
    [ "$status" = 0 ] && return 0
    if [ "$status" = 139 ] && [ "$2" = 64 ]; then
        wine_crashes="$wine_crashes $1"
        return 0
    fi
    fail "$1: exit status $status"
}
wine_time() { awk -v c="$1" '$1 == c { print $2 }' "$wine_out/times" | paste -sd/; }
if [ -n "$wine_bits" ]; then
    [ -f "$wine_out/finished" ] || fail "the Wine runs did not finish"
    [ -s "$wine_out/notes" ] && fail "the Wine runs reported: $(cat "$wine_out/notes")"
    for bits in $wine_bits; do
        name=wine$bits-open-close
        echo "== $name ($(wine_time "$name") s in the guest; exit status" \
            "$(cat "$wine_out/$name.status" 2>/dev/null) on try $(cat "$wine_out/$name.tries" 2>/dev/null))"
        sed 's/^/    /' "$wine_out/$name.out" 2>/dev/null
        echo
        # Every call must have succeeded: Wine's winmm opened the device's ports.
        [ "$(grep -c $' 0\r$' "$wine_out/$name.out" 2>/dev/null)" = 9 ] ||
            fail "$name: a MIDI call failed"
        wine_status "$name" "$bits"
        for case in no-device $cases; do
            name=wine$bits-$case
            as_linux "$wine_out/$name.out" >"$build/$name.out" 2>/dev/null || true
            echo "== $name ($(wine_time "$name") s in the guest)"
            visible <"$build/$name.out"
            wine_status "$name" "$bits"
            if [ -n "${expected[$case]+set}" ]; then
                cmp -s "$build/$case.expected" "$build/$name.out" ||
                    fail "$name: transcript differs from the expected one:" \
                        "$(diff <(visible <"$build/$case.expected") <(visible <"$build/$name.out"))"
            fi
            [ "$case" = no-device ] && continue
            cmp -s "$sim_dir/$case.out" "$build/$name.out" ||
                fail "$name: transcript differs from the emulated run's"
            cmp -s "$sim_dir/$case.wire" "$wine_out/$name.received" ||
                fail "$name: the device received other messages than the emulated run sends" \
                    "($(wc -l <"$wine_out/$name.received") against $(wc -l <"$sim_dir/$case.wire"))"
            echo "    device: $(tail -n 1 "$wine_out/$name.device")"
            [ -s "$wine_out/$name.err" ] &&
                echo "    standard error (Wine's): $(head -c 300 "$wine_out/$name.err")"
        done
        hex "$wine_out/wine$bits-success.flashed" >"$build/wine$bits-success.flashed.hex"
        cmp -s "$build/kit.hex" "$build/wine$bits-success.flashed.hex" ||
            fail "wine$bits-success: the device did not flash the kit's image"
    done
    [ -z "$wine_crashes" ] ||
        echo "KNOWN WINE FAULT: 64-bit Wine crashed at exit (status 139) after complete output" \
            "in:$wine_crashes (the open-and-close program: status" \
            "$(cat "$wine_out/wine64-open-close.status" 2>/dev/null))"
fi

# Over USB, probe A (F0 4C 2E 93 07 8D 21 95 F7) arrives as F0 4C 2E: the USB MIDI link carries
# a System Exclusive message in 7-bit bytes and ends it at the first byte above 0x7F. The device
# answers nothing to what is cut short, so the run is the emulated one with a device that answers
# only probe B, and the device's log that run's wire log with probe A cut the same way.
probe_a='F0 4C 2E 93 07 8D 21 95 F7'
if [ -n "$usb_programs" ]; then
    [ -f "$wine_out/usb-finished" ] || fail "the USB runs did not finish"
    echo
    echo "== USB: cards and sequencer clients in the guest"
    sed 's/^/    /' "$wine_out/usb.cards" "$wine_out/usb.clients" 2>/dev/null
    echo "    enumeration: $(wine_time plug) s"
    for case in $usb_cases; do
        emulated_run "$case" "usb-$case" --probes B
        sed "s/^$probe_a\$/F0 4C 2E/" "$sim_dir/usb-$case.wire" >"$sim_dir/usb-$case.cut"
    done
    for program in $usb_programs; do
        for case in $usb_cases; do
            name=usb-$program-$case
            if [ "$program" = linux ]; then
                cp "$wine_out/$name.out" "$build/$name.out" 2>/dev/null
            else
                as_linux "$wine_out/$name.out" >"$build/$name.out" 2>/dev/null || true
            fi
            echo "== $name ($(wine_time "$name") s in the guest)"
            visible <"$build/$name.out"
            [ "$(cat "$wine_out/$name.status" 2>/dev/null)" = 0 ] ||
                fail "$name: exit status $(cat "$wine_out/$name.status" 2>/dev/null)"
            cmp -s "$sim_dir/usb-$case.out" "$build/$name.out" ||
                fail "$name: transcript differs from the emulated run's:" \
                    "$(diff <(visible <"$sim_dir/usb-$case.out") <(visible <"$build/$name.out"))"
            cmp -s "$sim_dir/usb-$case.cut" "$wine_out/$name.received" ||
                fail "$name: the device received other messages than the emulated run sends" \
                    "($(wc -l <"$wine_out/$name.received") against $(wc -l <"$sim_dir/usb-$case.cut"))"
            echo "    device: $(tail -n 1 "$wine_out/$name.device") (first: $(head -n 1 \
                "$wine_out/$name.received"))"
            [ -s "$wine_out/$name.err" ] && echo "    standard error: $(head -c 300 "$wine_out/$name.err")"
            if [ "$case" = success ]; then
                hex "$wine_out/$name.flashed" >"$build/$name.flashed.hex"
                cmp -s "$build/kit.hex" "$build/$name.flashed.hex" ||
                    fail "$name: the device did not flash the kit's image"
            fi
        done
        # The cable pulled part-way: whatever the drivers do, the run ends by itself with one of
        # its failure messages and the prompt, never a success. Wine's stack does not tell the
        # program, so the current record's 20 attempts go unanswered, each waited for up to the
        # device's latest answer time: 125 s. The bound leaves 25 s for closing the ports, and for
        # cmd's prompt. Ending on "not responding", the program has waited at least the 19
        # attempts wholly after the pull: its waits' floor on the real stacks and clock. The Linux
        # product sends straight to the card, which reports itself gone: its next chunk fails,
        # at the latest after one verdict wait (6.25 s) and the chunk's allowance (1 s); 15 s
        # leaves room for a slow guest.
        name=usb-$program-unplug
        if [ "$program" = linux ]; then
            cp "$wine_out/$name.out" "$build/$name.out" 2>/dev/null
        else
            as_linux "$wine_out/$name.out" >"$build/$name.out" 2>/dev/null || true
        fi
        after=$(wine_time "$name-after-pull")
        echo "== $name ($(wine_time "$name") s in the guest, $after s after the pull)"
        visible <"$build/$name.out"
        echo "    device: $(tail -n 1 "$wine_out/$name.device" 2>/dev/null)"
        [ -s "$wine_out/$name.err" ] && echo "    standard error: $(head -c 300 "$wine_out/$name.err")"
        status=$(cat "$wine_out/$name.status" 2>/dev/null || echo none)
        [ "$status" = 0 ] || fail "$name: exit status $status (124: still running after 240 s)"
        awk -v a="${after:-999}" 'BEGIN { exit !(a <= 150) }' ||
            fail "$name: took $after s after the pull (at most 150)"
        if grep -qxF "$(say not-responding)" "$build/$name.out" &&
            awk -v a="${after:-0}" 'BEGIN { exit !(a < 19 * 6.25) }'; then
            fail "$name: not responding $after s after the pull, less than 19 attempts' 118.75 s"
        fi
        if [ "$program" = linux ]; then
            grep -qxF "$(say midi-out-missing)" "$build/$name.out" ||
                fail "$name: the pulled cable did not fail a send"
            awk -v a="${after:-999}" 'BEGIN { exit !(a <= 15) }' ||
                fail "$name: took $after s after the pull (at most 15)"
        fi
        grep -q successfully "$build/$name.out" && fail "$name: reported a success"
        grep -q 'Transferring.. . [1-9]' "$build/$name.out" ||
            fail "$name: the cable was not pulled part-way through the transfer"
        text=$(cat "$build/$name.out"; echo .)
        text=${text%.}
        last=${text%$'\n\n'"$prompt"}
        [[ $last != "$text" && ${last##*$'\n'} == @(Failed|Error):* ]] ||
            fail "$name: does not end with a failure message and the prompt"
    done
fi

# The browser edition in Chromium, whose own Web MIDI reaches the device through its ALSA backend.
# Chromium refuses to send a System Exclusive message with a byte above 0x7F inside, so probe A
# never leaves the page: the run is the emulated one with a device that answers only probe B, and
# the device's log that run's wire log without probe A.
if [ -n "$chromium_cases" ]; then
    echo
    [ -f "$wine_out/chromium-finished" ] || fail "the Chromium runs did not finish"
    [ -s "$wine_out/chromium-notes" ] &&
        fail "the Chromium runs reported: $(cat "$wine_out/chromium-notes")"
    echo "== Chromium: udev ready in $(wine_time chromium-udev) s, Chromium started in" \
        "$(wine_time chromium-start) s, the page loaded in $(wine_time chromium-page) s, Chromium" \
        "closed in $(wine_time chromium-close) s (guest clock)"
    for case in $chromium_cases; do
        name=chromium-$case
        emulated_run "$case" "$name" --probes B
        grep -vxF "$probe_a" "$sim_dir/$name.wire" >"$sim_dir/$name.heard"
        echo "== $name ($(wine_time "$name") s in the guest, the device's start included)"
        cat "$wine_out/$name.out" 2>/dev/null | visible
        cmp -s "$sim_dir/$name.out" "$wine_out/$name.out" ||
            fail "$name: transcript differs from the emulated run's:" \
                "$(diff <(visible <"$sim_dir/$name.out") <(cat "$wine_out/$name.out" 2>/dev/null | visible))"
        cmp -s "$sim_dir/$name.heard" "$wine_out/$name.received" ||
            fail "$name: the device received other messages than the emulated run sends" \
                "($(cat "$wine_out/$name.received" 2>/dev/null | wc -l) against $(wc -l <"$sim_dir/$name.heard"))"
        echo "    device: $(tail -n 1 "$wine_out/$name.device" 2>/dev/null) (first: $(head -n 1 \
            "$wine_out/$name.received" 2>/dev/null))"
        if [ "$case" = success ]; then
            hex "$wine_out/$name.flashed" >"$build/$name.flashed.hex"
            cmp -s "$build/kit.hex" "$build/$name.flashed.hex" ||
                fail "$name: the device did not flash the kit's image"
        fi
    done
fi

# shellcheck source=din-check.sh
. .ci/vm/din-check.sh

echo
echo "booted in $(awk '$1 == "@@@" && $2 == "BOOTED" { print $3 }' "$console.txt") s," \
    "all cases done at $(awk '$1 == "@@@" && $2 == "DONE" { print $3 }' "$console.txt") s" \
    "(guest clock); virtual machine $((vm_ms / 1000)).$(printf '%03d' $((vm_ms % 1000))) s, whole check $(($(date +%s) - started)) s"
if [ "$failures" -ne 0 ]; then
    echo "vm: $failures failure(s); console log in $console"
    exit 1
fi
echo "vm: all cases as expected"

