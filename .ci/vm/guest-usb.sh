#!/bin/bash
# Runs in the guest, chrooted like guest-wine.sh: a USB MIDI gadget on the dummy USB controller,
# so that the programs reach the device through the kernel's USB audio class driver as over a
# cable. brevanto-device plays on the gadget's own raw MIDI device, which makes no sequencer port
# of its own, so the USB port is the first device the programs see. Then the cable is pulled part
# way through an update. Results go to /results as files for .ci/vm.sh; nothing here decides.
set -u
# shellcheck source=/dev/null
. /results/config # root, build, kit_name, usb_cases, usb_programs, unplug_bytes
# shellcheck source=guest-common.sh
. "$root/.ci/vm/guest-common.sh"
chroot_wine_env
export WINEPREFIX=/results/prefix32 WINEARCH=win32
gadget=/sys/kernel/config/usb_gadget/brevanto
raw=/dev/snd/midiC7D0 # the gadget's card has index 7: never card 0, never device 0

# plug: binds the gadget to the controller and waits until the host side's sequencer client is
# there (enumeration takes a few seconds under emulation).
plug() {
    local start tries=0
    start=$(uptime_cs)
    ls /sys/class/udc >"$gadget/UDC"
    until grep -q "Brevanto USB" /proc/asound/seq/clients 2>/dev/null && [ -c "$raw" ]; do
        tries=$((tries + 1))
        if [ $tries -gt 300 ]; then
            note "usb: the gadget did not appear within 30 s"
            return 1
        fi
        sleep 0.1
    done
    echo "plug $(elapsed "$start")" >>"$out/times"
}
unplug() { echo "" >"$gadget/UDC"; }

make_gadget() {
    mountpoint -q /sys/kernel/config || mount -t configfs configfs /sys/kernel/config || return 1
    mkdir -p "$gadget/strings/0x409" "$gadget/configs/c.1/strings/0x409" &&
        echo 0x1209 >"$gadget/idVendor" && echo 0x0001 >"$gadget/idProduct" &&
        echo TALVERON >"$gadget/strings/0x409/manufacturer" &&
        echo "Brevanto USB" >"$gadget/strings/0x409/product" &&
        echo MIDI >"$gadget/configs/c.1/strings/0x409/configuration" &&
        mkdir "$gadget/functions/midi.usb0" &&
        echo 7 >"$gadget/functions/midi.usb0/index" &&
        echo BrevantoGadget >"$gadget/functions/midi.usb0/id" &&
        ln -s "$gadget/functions/midi.usb0" "$gadget/configs/c.1/"
}

# run NAME PROGRAM: one update in a scratch copy of the kit's directory, input at its end.
run() {
    local name=$1 start status=0
    mkdir -p "/tmp/$name"
    cp "/results/$kit_name" "/tmp/$name/"
    start=$(uptime_cs)
    # shellcheck disable=SC2046 # the loader and its program are two words
    (cd "/tmp/$name" && timeout 240 $(command_for "$2") </dev/null >"$out/$name.out" \
        2>"$out/$name.err") || status=$?
    echo "$status" >"$out/$name.status"
    echo "$name $(elapsed "$start")" >>"$out/times"
}

received_bytes() { awk '/Rx bytes/ { n = $4 } END { print n + 0 }' /proc/asound/card7/midi0; }

# run_unplugged NAME PROGRAM: the cable is pulled once the device's side has received
# unplug_bytes (about a third of the update), counted by the gadget's raw MIDI device: the Windows
# program's output reaches its file only at its end. The run must then end by itself; its time
# from the pull to its end is recorded.
run_unplugged() {
    local name=$1 pid start pulled tries=0 status=0 base
    # The count runs on from earlier runs.
    base=$(received_bytes)
    mkdir -p "/tmp/$name"
    cp "/results/$kit_name" "/tmp/$name/"
    start=$(uptime_cs)
    # shellcheck disable=SC2046
    (cd "/tmp/$name" && exec timeout 240 $(command_for "$2") </dev/null >"$out/$name.out" \
        2>"$out/$name.err") &
    pid=$!
    until [ "$(received_bytes)" -ge $((base + unplug_bytes)) ]; do
        tries=$((tries + 1))
        if [ $tries -gt 2400 ] || ! kill -0 $pid 2>/dev/null; then
            note "$name: the device never received $unplug_bytes bytes"
            break
        fi
        sleep 0.05
    done
    cat /proc/asound/card7/midi0 >"$out/$name.rawmidi" 2>&1
    unplug
    pulled=$(uptime_cs)
    wait $pid || status=$?
    echo "$status" >"$out/$name.status"
    echo "$name $(elapsed "$start")" >>"$out/times"
    echo "$name-after-pull $(elapsed "$pulled")" >>"$out/times"
}

start=$(uptime_cs)
make_gadget || note "usb: the gadget could not be made"
if plug; then
    cat /proc/asound/seq/clients >"$out/usb.clients"
    cat /proc/asound/cards >"$out/usb.cards"
    for program in $usb_programs; do
        if [ "$program" = wine32 ] && [ ! -f "$WINEPREFIX/.talveron-ready" ]; then
            note "usb: no 32-bit Wine prefix (the Wine cases make it)"
            continue
        fi
        for case in $usb_cases; do
            start_device "usb-$program-$case" --raw-midi "$raw" $(cat "/results/$case.options")
            run "usb-$program-$case" "$program"
            stop_device
        done
    done
    for program in $usb_programs; do
        [ "$program" = wine32 ] && [ ! -f "$WINEPREFIX/.talveron-ready" ] && continue
        # A fresh link for each: the previous pull left none.
        [ -n "$(cat "$gadget/UDC")" ] || plug || break
        # Answers 200 ms late, so that even the quick Linux run is still under way at the pull.
        start_device "usb-$program-unplug" --raw-midi "$raw" --delay-ms 200
        run_unplugged "usb-$program-unplug" "$program"
        stop_device
    done
fi
/usr/lib/wine/wineserver -k 2>/dev/null
echo "usb $(elapsed "$start")" >>"$out/times"
echo done >"$out/usb-finished"
