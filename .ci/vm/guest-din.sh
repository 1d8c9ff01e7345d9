#!/bin/bash
# Runs in the guest, chrooted like guest-wine.sh: the programs on a MIDI port at DIN speed. The
# port is a 16550 UART (.ci/vm/din-uart) whose far end is the host's cable (.ci/vm/din-pacer.py),
# which carries 3,125 bytes a second each way to brevanto-device on a virtio-serial port here. The
# Linux product updates each kit straight through the card's raw MIDI device; for the lab only,
# while another sequencer client holds that device, through the sequencer's bridge, and the
# 32-bit Windows product under Wine; then the cable is pulled part way through a large record.
# Results go to /results as files for .ci/vm.sh; nothing here decides.
set -u
# shellcheck source=/dev/null
. /results/config # root, build, kit_name, din_kits, din_seq_seconds, din_pull_kit, din_pull_bytes,
# din_lab
# shellcheck source=guest-common.sh
. "$root/.ci/vm/guest-common.sh"
chroot_wine_env
export WINEPREFIX=/results/prefix32 WINEARCH=win32

# The virtio-serial ports by the names the host gave them.
port_named() {
    local port
    for port in /sys/class/virtio-ports/*; do
        [ "$(cat "$port/name" 2>/dev/null)" = "$1" ] && echo "/dev/${port##*/}"
    done
}
far=$(port_named din-far)
control=$(port_named din-control)
card=$(awk '/\]: DIN-UART/ { print $1 }' /proc/asound/cards)

# cable LINE: one control line to the host's cable, waited for until it is in effect.
cable() {
    echo "$1" >&9
    read -r -t 10 _ <&9 || note "din: the cable did not answer '$1'"
}
# Bytes the card has handed to its UART, from the first opening on.
sent_bytes() { awk '/Tx bytes/ { n = $4 } END { print n + 0 }' "/proc/asound/card$card/midi0"; }
overruns() {
    dmesg | awk '/MIDI output buffer overrun/ { n++ }
        /dump_midi: [0-9]+ callbacks suppressed/ { n += $(NF - 2) } END { print n + 0 }'
}

# settle: waits until the card has sent what is still queued for it (what a program left in the
# sequencer's bridge plays on after it ends), and the cable has carried it.
settle() {
    local last=-1 now tries=0
    while now=$(sent_bytes) && [ "$now" != "$last" ] && [ $tries -lt 100 ]; do
        last=$now
        tries=$((tries + 1))
        sleep 0.2
    done
    sleep 0.2
}

# run NAME KIT PROGRAM SECONDS: one update of the kit, in a scratch copy of its directory, with
# the device and the cable's count started afresh; ended after SECONDS at most. The kernel's
# overrun lines of the run are counted.
run() {
    local name=$1 kit=$2 start status=0 before
    mkdir -p "/tmp/$name"
    cp "/results/din/$kit/$kit_name" "/tmp/$name/"
    cable "case $name"
    start_device "$name" --raw-midi "$far"
    before=$(overruns)
    start=$(uptime_cs)
    # shellcheck disable=SC2046 # the loader and its program are two words
    (cd "/tmp/$name" && timeout "$4" $(command_for "$3") </dev/null >"$out/$name.out" \
        2>"$out/$name.err") || status=$?
    echo "$status" >"$out/$name.status"
    echo "$name $(elapsed "$start")" >>"$out/din-times"
    settle
    echo "$(($(overruns) - before))" >"$out/$name.overruns"
    stop_device
}

# run_pulled NAME KIT: the cable is pulled once the card has sent din_pull_bytes of the update;
# the run must then end by itself. Its time from the pull to its end is recorded.
run_pulled() {
    local name=$1 kit=$2 pid start pulled before base tries=0 status=0
    mkdir -p "/tmp/$name"
    cp "/results/din/$kit/$kit_name" "/tmp/$name/"
    cable "case $name"
    start_device "$name" --raw-midi "$far"
    before=$(overruns)
    base=$(sent_bytes)
    start=$(uptime_cs)
    (cd "/tmp/$name" && exec timeout 240 "$build/talveron-update" </dev/null >"$out/$name.out" \
        2>"$out/$name.err") &
    pid=$!
    until [ "$(sent_bytes)" -ge $((base + din_pull_bytes)) ]; do
        tries=$((tries + 1))
        if [ $tries -gt 2400 ] || ! kill -0 $pid 2>/dev/null; then
            note "$name: the card never sent $din_pull_bytes bytes"
            break
        fi
        sleep 0.05
    done
    cable pull
    pulled=$(uptime_cs)
    wait $pid || status=$?
    echo "$status" >"$out/$name.status"
    echo "$name $(elapsed "$start")" >>"$out/din-times"
    echo "$name-after-pull $(elapsed "$pulled")" >>"$out/din-times"
    echo "$(($(overruns) - before))" >"$out/$name.overruns"
    cable plug
    stop_device
}

start=$(uptime_cs)
if [ -z "$far" ] || [ -z "$control" ] || [ -z "$card" ]; then
    note "din: no port (far end '$far', control '$control', card '$card')"
else
    exec 9<>"$control"
    cat /proc/asound/cards >"$out/din.cards"
    cat /proc/asound/seq/clients >"$out/din.clients"
    dmesg -c >/dev/null
    for kit in $din_kits; do
        run "din-raw-$kit" "$kit" linux 240
    done
    # The lab's cases, recorded only. Another program plays into the port: the sequencer's
    # bridge holds the raw MIDI output, so the product falls back to the sequencer, as older
    # versions always send; then Wine, whose winmm sends through the sequencer too.
    if [ "$din_lab" = 1 ]; then
        "$build/seq-hold" "DIN MIDI:0" >"$out/din-hold.log" 2>&1 &
        hold_pid=$!
        await_word "$out/din-hold.log" holding $hold_pid ||
            note "din: the sequencer client did not take hold of the port"
        for kit in $din_kits; do
            run "din-seq-$kit" "$kit" linux "$din_seq_seconds"
        done
        kill $hold_pid
        wait $hold_pid 2>/dev/null
        if [ -f "$WINEPREFIX/.talveron-ready" ]; then
            /usr/lib/wine/wineserver -p
            run "din-wine32-$din_wine_kit" "$din_wine_kit" wine32 "$din_seq_seconds"
            /usr/lib/wine/wineserver -k
            timeout 30 /usr/lib/wine/wineserver -w
        else
            note "din: no 32-bit Wine prefix (the Wine cases make it)"
        fi
    fi
    run_pulled "din-pull-$din_pull_kit" "$din_pull_kit"
    cable "case end"
fi
echo "din $(elapsed "$start")" >>"$out/din-times"
echo done >"$out/din-finished"
