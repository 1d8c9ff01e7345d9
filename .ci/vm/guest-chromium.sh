#!/bin/bash
# Runs in the guest, chrooted like guest-wine.sh: the browser edition in Chromium, whose own Web
# MIDI reaches brevanto-device on sequencer ports through its ALSA backend. Chromium takes a
# card's ports only once udev reports the card initialised, so udevd runs first and announces the
# cards, as on a desktop (another program's ports, like the device's, need no card). Results
# go to /results as files for .ci/vm.sh to compare; nothing here decides pass or fail.
set -u
# shellcheck source=/dev/null
. /results/config # root, build, kit_name, chromium_cases
# shellcheck source=guest-common.sh
. "$root/.ci/vm/guest-common.sh"
export HOME=/tmp LC_ALL=C LANG=C
unset DISPLAY WAYLAND_DISPLAY
# Problems in a file of their own, apart from the Wine runs'.
note() { echo "$*" >>"$out/chromium-notes"; }

start=$(uptime_cs)
# The page is served on localhost: the guest's loopback, which nothing else brings up.
ip link set lo up || note "chromium: no loopback"
# Chromium's shared memory.
mkdir -p /dev/shm && mount -t tmpfs shm /dev/shm
mkdir -p /run/udev
# udevadm ignores requests made in a chroot unless told this one is meant.
export SYSTEMD_IGNORE_CHROOT=1
/usr/lib/systemd/systemd-udevd --daemon || note "chromium: udevd did not start"
udevadm trigger --subsystem-match=sound --action=add
udevadm settle --timeout=60 || note "chromium: udev did not settle within 60 s"
udevadm info --query=property /sys/class/sound/card0 >"$out/chromium.udev"
grep -qx SOUND_INITIALIZED=1 "$out/chromium.udev" || note "chromium: udev did not initialise card 0"
echo "chromium-udev $(elapsed "$start")" >>"$out/times"

mkdir -p /tmp/chromium-kit
cp "/results/$kit_name" /tmp/chromium-kit/
set --
for case in $chromium_cases; do set -- "$@" "$case=$(cat "/results/$case.options")"; done
timeout 360 node "$root/.ci/vm/chromium-update.js" "$build/web-page" "/tmp/chromium-kit/$kit_name" \
    "$device" "$out" "$@" >"$out/chromium.log" 2>&1 || note "chromium: the driver ended with $?"

udevadm control --exit
umount /dev/shm
echo "chromium $(elapsed "$start")" >>"$out/times"
echo done >"$out/chromium-finished"
