#!/bin/bash
# Runs in the guest, chrooted into the host's root (read-only, under a tmpfs overlay): the Windows
# products under Wine against brevanto-device on sequencer ports, so that Wine's own winmm and its
# ALSA MIDI driver carry every message. Results go to /results as files for .ci/vm.sh to compare.
# Nothing here decides pass or fail.
set -u
# shellcheck source=/dev/null
. /results/config # root, build, kit_name, wine_cases, wine_bits, open_close_tries
# shellcheck source=guest-common.sh
. "$root/.ci/vm/guest-common.sh"
chroot_wine_env

# run_wine NAME LOADER EXE: one run in a scratch copy of the kit's directory, input at its end.
run_wine() {
    local name=$1 loader=$2 exe=$3 start status=0
    mkdir -p "/tmp/$name"
    cp "/results/$kit_name" "/tmp/$name/"
    start=$(uptime_cs)
    (cd "/tmp/$name" && timeout 240 "$loader" "$exe" </dev/null >"$out/$name.out" \
        2>"$out/$name.err") || status=$?
    echo "$status" >"$out/$name.status"
    echo "$name $(elapsed "$start")" >>"$out/times"
}

for bits in $wine_bits; do
    if [ "$bits" = 64 ]; then
        export WINEPREFIX=$build/wine-prefix64 WINEARCH=win64
        loader=/usr/lib/wine/wine64
    else
        export WINEPREFIX=/results/prefix32 WINEARCH=win32
        loader=/usr/lib/wine/wine
        if [ ! -f "$WINEPREFIX/.talveron-ready" ]; then
            # Kept on the host between checks: a prefix takes one to two minutes here.
            start=$(uptime_cs)
            rm -rf "$WINEPREFIX"
            timeout 400 "$loader" wineboot --init </dev/null >/dev/null 2>&1 &&
                timeout 60 /usr/lib/wine/wineserver -w && touch "$WINEPREFIX/.talveron-ready"
            echo "prefix$bits $(elapsed "$start")" >>"$out/times"
        fi
    fi
    # One server for every run of this prefix: a server that starts again costs seconds.
    /usr/lib/wine/wineserver -p
    # The first Wine process in a fresh guest is slow; let it be one without a device.
    run_wine "wine$bits-no-device" "$loader" "$root/build-win$bits/talveron-update.exe"
    # The updater's opening and closing of the ports without a byte sent: whether Wine itself
    # fails at exit. It does not fail every time; VM_OPEN_CLOSE_TRIES gives it more chances.
    start_device "wine$bits-open-close"
    for try in $(seq "$open_close_tries"); do
        run_wine "wine$bits-open-close" "$loader" "$build/midi-open-close-$bits.exe"
        echo "$try" >"$out/wine$bits-open-close.tries"
        [ "$(cat "$out/wine$bits-open-close.status")" = 0 ] || break
    done
    stop_device
    for case in $wine_cases; do
        start_device "wine$bits-$case" $(cat "/results/$case.options")
        run_wine "wine$bits-$case" "$loader" "$root/build-win$bits/talveron-update.exe"
        stop_device
    done
    /usr/lib/wine/wineserver -k
    timeout 30 /usr/lib/wine/wineserver -w
done
echo done >"$out/finished"
