# Sourced by the guest scripts that run chrooted into the host's root (guest-wine.sh,
# guest-usb.sh), after /results/config: the environment, timing, notes, and the emulated device
# started and stopped around each case. Results go to /results/out as files.
out=/results/out
export HOME=/tmp WINEDEBUG=-all LC_ALL=C LANG=C
# No Mono, Gecko or desktop menus; the sound drivers stay, winealsa carries MIDI.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

uptime_cs() { read -r up _ </proc/uptime; echo "${up%.*}${up#*.}"; }
elapsed() { local cs=$(($(uptime_cs) - $1)); printf '%d.%02d' $((cs / 100)) $((cs % 100)); }
note() { echo "$*" >>"$out/notes"; }

# start_device NAME [OPTION]...: brevanto-device with its logs named after the case, waited for
# until it says it listens (30 s at most).
start_device() {
    local name=$1 tries=0
    shift
    "$build/brevanto-device" --exit-after 300 --received-log "$out/$name.received" \
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
