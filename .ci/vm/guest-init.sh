#!/bin/busybox sh
# The guest's /init: loads the sequencer, plays the Brevanto on its own ports, runs the updater
# against it in each case and writes what came out to the results share, one file a case and
# kind, as the chrooted scripts do; then runs those. Nothing here decides pass or fail.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp

# Timing and the device, shared with the chrooted scripts. Every case's results go to the
# results share as files, as the chrooted scripts' do; problems go to the console.
out=/results/out
device=/opt/talveron/brevanto-device
. /lib/guest-common.sh
note() { echo "@@@ NOTE $*"; }

# One update run in the kit's directory, as root or as the user given, with the options given
# after it (words without quotes); the device (if any) is already listening.
run_updater() {
    local name=$1 user=${2:-root}
    [ $# -gt 2 ] && shift 2 || set --
    local start=$(uptime_cs)
    (cd /kit && timeout 240 su -s /bin/sh "$user" -c "exec /opt/talveron/talveron-update $*" \
        </dev/null >$out/$name.out 2>$out/$name.err)
    echo $? >$out/$name.status
    echo "$name $(elapsed $start)" >>$out/times
}

# load_modules ORDER_FILE: the modules listed there, in order, but for those loaded already.
load_modules() {
    local module
    for module in $(cat /lib/modules/$1); do
        grep -q "^$(echo $module | tr - _) " /proc/modules && continue
        insmod /lib/modules/$module.ko || echo "@@@ NOTE insmod $module failed"
    done
}

# The results share first: no sound module comes with it.
load_modules order.results
mkdir -p /results
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 results /results &&
    [ -d $out ] || echo "@@@ NOTE the results share could not be mounted"

echo "@@@ BOOTED $(elapsed 0)"

# Before the sequencer is loaded: no /dev/snd/seq, so no devices and not a word on stderr.
run_updater no-sequencer
# The device player too says why it cannot play.
/opt/talveron/brevanto-device --exit-after 1 >/dev/null 2>$out/device-no-sequencer.err
echo $? >$out/device-no-sequencer.status

load_modules order
[ -c /dev/snd/seq ] || echo "@@@ NOTE /dev/snd/seq is missing"
cat /proc/asound/seq/clients >$out/clients

# Only the kernel's "Midi Through" client: still no device.
run_updater no-device

# A user without access: first to the node as the bare kernel makes it (its owner only), then as
# udev makes it on a desktop (the group audio too).
run_updater owner-only nobody
chgrp 29 /dev/snd/seq && chmod 660 /dev/snd/seq || echo "@@@ NOTE cannot give /dev/snd/seq its group"
run_updater no-permission nobody

for case in $(cat /kit/cases); do
    start_device $case $(cat /kit/$case.options)
    run_updater $case
    stop_device
done

# Two devices, the first a keyboard that answers nothing: the bare run would take it, the user
# names the Brevanto. The keyboard must hear nothing.
start_device chosen-keyboard --port "USB Keyboard" --probes none
keyboard_pid=$device_pid
start_device chosen
run_updater chosen-list root --list
run_updater chosen root --port Brevanto --exit-status
stop_device
device_pid=$keyboard_pid
stop_device

# The Windows products under Wine: Wine and every library come from the host's root, shared
# read-only and made writable by an overlay on a tmpfs. The kernel's Midi Through port goes, or
# Wine would list it first; a dummy card 0 keeps Wine's ALSA quiet. Chromium's and the USB cases
# run there too, and last those on the DIN-rate port, whose card no earlier case may see.
if [ -f /kit/wine ] || [ -f /kit/chromium ] || [ -f /kit/usb ] || [ -f /kit/din ]; then
    wine_start=$(uptime_cs)
    rmmod snd-seq-dummy || echo "@@@ NOTE rmmod snd-seq-dummy failed"
    load_modules order.wine
    mkdir -p /host /overlay /newroot
    mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=512000 hostroot /host &&
        mount -t tmpfs -o size=2g overlay /overlay &&
        mkdir -p /overlay/upper /overlay/work &&
        mount -t overlay overlay \
            -o lowerdir=/host,upperdir=/overlay/upper,workdir=/overlay/work /newroot &&
        mkdir -p /newroot/results && mount -o bind /results /newroot/results &&
        mount -o bind /dev /newroot/dev && mount -t proc proc /newroot/proc &&
        mount -t sysfs sys /newroot/sys && mount -t tmpfs tmp /newroot/tmp &&
        mount -t devpts devpts /newroot/dev/pts 2>/dev/null
    # The checkout comes as a share of its own, under an overlay of its own: the host's root does
    # not reach into other file systems (a checkout under /tmp is on one), and the guest's /tmp
    # would hide it anyway. Wine writes into its prefix in the build directory.
    if [ -f /newroot/results/config ]; then
        checkout=$(. /newroot/results/config && echo "$root")
        mkdir -p /checkout /overlay/checkout-upper /overlay/checkout-work "/newroot$checkout" &&
            mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=512000 checkout /checkout &&
            mount -t overlay overlay -o lowerdir=/checkout,upperdir=/overlay/checkout-upper,workdir=/overlay/checkout-work "/newroot$checkout" ||
            echo "@@@ NOTE the checkout could not be mounted"
    fi
    if [ ! -f /newroot/results/config ]; then
        echo "@@@ NOTE the host's root could not be mounted"
    elif [ -f /kit/wine ]; then
        chroot /newroot /bin/bash -c '. /results/config && exec "$root/.ci/vm/guest-wine.sh"'
    fi
    echo "@@@ TIME wine $(elapsed $wine_start)"
    # The browser edition in Chromium from the host's root, before the USB card comes.
    if [ -f /kit/chromium ] && [ -f /newroot/results/config ]; then
        chromium_start=$(uptime_cs)
        chroot /newroot /bin/bash -c '. /results/config && exec "$root/.ci/vm/guest-chromium.sh"'
        echo "@@@ TIME chromium $(elapsed $chromium_start)"
    fi
    if [ -f /kit/usb ] && [ -f /newroot/results/config ]; then
        usb_start=$(uptime_cs)
        load_modules order.usb
        chroot /newroot /bin/bash -c '. /results/config && exec "$root/.ci/vm/guest-usb.sh"'
        echo "@@@ TIME usb $(elapsed $usb_start)"
    fi
    if [ -f /kit/din ] && [ -f /newroot/results/config ]; then
        din_start=$(uptime_cs)
        load_modules order.din
        chroot /newroot /bin/bash -c '. /results/config && exec "$root/.ci/vm/guest-din.sh"'
        echo "@@@ TIME din $(elapsed $din_start)"
    fi
    umount /newroot/results
fi
umount /results

echo "@@@ DONE $(elapsed 0)"
poweroff -f
