# shellcheck shell=bash
# Sourced by the guest's scripts: /init (busybox sh, which reports on the serial console) and those
# run chrooted into the host's root (guest-wine.sh, guest-usb.sh; bash, which report in files
# under /results/out). Timing, notes, and the emulated device started and stopped around each
# case. The caller may set out (where each case's logs go, /results/out by default), device
# (brevanto-device, $build/brevanto-device by default) and note (how a problem is reported).
out=${out:-/results/out}
device=${device:-${build:-}/brevanto-device}

uptime_cs() { read -r up _ </proc/uptime; echo "${up%.*}${up#*.}"; }
# elapsed START: the seconds since START (an uptime_cs), to the hundredth.
elapsed() { local cs=$(($(uptime_cs) - $1)); printf '%d.%02d' $((cs / 100)) $((cs % 100)); }
note() { echo "$*" >>"$out/notes"; }

# chroot_wine_env: Wine for the chrooted scripts, in the C locale (cmd's pause prompt is
# translated), without Mono, Gecko, desktop menus or a display; the sound drivers stay, winealsa
# carries MIDI.
chroot_wine_env() {
    export HOME=/tmp WINEDEBUG=-all LC_ALL=C LANG=C
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    unset DISPLAY WAYLAND_DISPLAY
}

# await_word FILE WORD PID: waits until the program PID writes WORD into its log FILE (30 s at
# most); false when it ends or takes longer.
await_word() {
    local tries=0
    until grep -q "$2" "$1" 2>/dev/null; do
        tries=$((tries + 1))
        if [ $tries -gt 300 ] || ! kill -0 "$3" 2>/dev/null; then
            return 1
        fi
        sleep 0.1
    done
}

# start_device NAME [OPTION]...: brevanto-device with its logs named after the case, waited for
# until it says it listens.
start_device() {
    local name=$1
    shift
    "$device" --exit-after 300 --received-log "$out/$name.received" \
        --flashed "$out/$name.flashed" "$@" >"$out/$name.device" 2>&1 &
    device_pid=$!
    await_word "$out/$name.device" listening $device_pid || note "$name: the device did not start"
}

# command_for PROGRAM: how the chrooted scripts start the Linux product or the 32-bit Windows one.
command_for() {
    case $1 in
    linux) echo "$build/talveron-update" ;;
    wine32) echo "/usr/lib/wine/wine $root/build-win32/talveron-update.exe" ;;
    esac
}

stop_device() {
    [ -n "${device_pid:-}" ] || return 0
    kill "$device_pid" 2>/dev/null
    wait "$device_pid"
    device_pid=
}
