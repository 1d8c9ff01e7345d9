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

# start_device NAME [OPTION]...: brevanto-device with its logs named after the case, waited for
# until it says it listens (30 s at most).
start_device() {
    local name=$1 tries=0
    shift
    "$device" --exit-after 300 --received-log "$out/$name.received" \
        --flashed "$out/$name.flashed" "$@" >"$out/$name.device" 2>&1 &
    device_pid=$!
    until grep -q listening "$out/$name.device" 2>/dev/null; do
        tries=$((tries + 1))
        if [ $tries -gt 300 ] || ! kill -0 $device_pid 2>/dev/null; then
            note "$name: the device did not start"
            return
        fi
        sleep 0.1
    done
}

stop_device() {
    [ -n "${device_pid:-}" ] || return 0
    kill "$device_pid" 2>/dev/null
    wait "$device_pid"
    device_pid=
}
