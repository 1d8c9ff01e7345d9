#!/usr/bin/env bash
# End to end on real MIDI ports, in a virtual machine: this machine has no sound kernel modules.
# Boots the distribution's kernel with busybox and the ALSA sequencer modules, plays the Brevanto
# device there (brevanto-device) on sequencer ports, over a USB MIDI gadget and on a MIDI port at
# DIN speed, and runs the products against it: the Linux one, the Windows ones under Wine, the
# page in Chromium. The cases are the rows of tests/system/vm_cases.tsv; the guest writes each
# case's results to a share, and tests/system/test_vm.py judges each against the emulated run of
# the same case (JUnit XML in $VM_BUILD/junit/vm.xml).
# Usage: .ci/vm.sh   (environment: VM_BUILD=build dir, default build-vm; VM_TIMEOUT seconds;
#   VM_ACCEL=kvm|tcg forces the accelerator, which is otherwise KVM only after a probe boots;
#   VM_WINE_BITS, VM_USB_PROGRAMS and VM_DIN_KITS empty leave out the Wine, USB and DIN phases,
#   VM_CHROMIUM=0 the browser edition's; VM_LAB=1 adds the cases that are only recorded)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=lib.sh
. .ci/lib.sh
root=$(pwd)
build="$root/${VM_BUILD:-build-vm}"
# The whole guest took 841 s under TCG with a 32-bit Wine prefix to make, most of it Wine's starts
# and the real waits of silent devices (a pulled cable alone costs 125 s a program), and the
# DIN-rate port's cases take about 5 minutes more on the wire's time, and Chromium's about 3:
# 1700 s ends a guest that hangs and leaves room for a slow one.
vm_timeout=${VM_TIMEOUT:-1700}
kit_name=Brevanto_vm.kit
kit_bytes=4096  # 16 records: quick under emulation
modules="soundcore snd snd-timer snd-hrtimer snd-seq-device snd-seq snd-seq-dummy"
# The results share, over virtio-9p, mounted before anything else.
results_modules="virtio_pci 9pnet_virtio 9p"
# For the Windows products under Wine: the host's root over virtio-9p under an overlay, and a
# dummy sound card as card 0 (without one every Wine process prints ALSA errors).
wine_modules="virtio_pci 9pnet_virtio 9p overlay snd-dummy"
# For the USB MIDI gadget: the dummy USB controller, the gadget's MIDI function, the USB audio
# class driver and the sequencer's ports for raw MIDI cards.
usb_modules="dummy_hcd usb_f_midi snd-usb-audio snd-seq-midi"

tools/install-deps.sh base linux vm windows web
started=$(date +%s)

# The cases on the sequencer's ports, and the device's options for each, from the manifest the
# verdicts read too (tests/system/vm_cases.tsv); the Wine and USB phases run the same cases.
manifest=tests/system/vm_cases.tsv
# rows PHASE: the manifest's rows of that phase, without comments and header.
rows() { awk -F '\t' -v p="$1" '!/^#/ && $2 == p' "$manifest"; }
declare -A options=()
cases=""
while IFS=$'\t' read -r case _ _ device _; do
    cases+="${cases:+ }$case"
    [ "$device" != - ] || device=""
    options[$case]=$device
done < <(rows seq)
# VM_LAB=1 adds the cases that are recorded, not checked (the DIN-rate port through the
# sequencer, and Wine over it): make lab.
lab=${VM_LAB:-0}
# The Windows products' share: the guest writes its results to out/; the 32-bit Wine prefix,
# which only the guest can make (this kernel may run no 32-bit programs), stays between checks.
share="$build/vm-share"
wine_bits=${VM_WINE_BITS-64 32}
# Over USB: the Linux product, and the 32-bit Windows one where its Wine prefix is made.
usb_default=linux
[[ " $wine_bits " != *" 32 "* ]] || usb_default="linux wine32"
usb_programs=${VM_USB_PROGRAMS-$usb_default}
usb_cases=$(rows usb-linux | awk -F '\t' '$9 == "emulated" { sub(/^usb-linux-/, "", $1); print $1 }' |
    paste -sd ' ')
# Over the DIN-rate port (.ci/vm/din-uart, the host's cable .ci/vm/din-pacer.py): kits of 4 KB
# in 256-byte records, two 4 KB records, one 16 KB record and one 65,531-byte record (the whole
# image), about 2 minutes of wire for both paths. VM_DIN_KITS= leaves the phase out.
din_modules="virtio_pci virtio_console snd-rawmidi snd-seq-midi"
din_kits=${VM_DIN_KITS-256 4k 16k 64k}
declare -A din_kit_options=([256]="" [4k]="--payload 4096" [16k]="--payload 16384"
    [64k]="--payload 65531")
declare -A din_kit_bytes=([256]=4096 [4k]=8200 [16k]=16388 [64k]=65535)
# The sequencer path loses the end of every record over about 2 KB: each of its 20 attempts
# waits up to 6.25 s for an answer. A case of it is cut off after this long; so is Wine's.
din_seq_seconds=40
din_wine_kit=4k
din_pull_kit=16k
# The browser edition in Chromium: its own Web MIDI over the sequencer. VM_CHROMIUM=0 leaves the
# phase out.
chromium_cases=$(rows chromium | awk -F '\t' '{ sub(/^chromium-/, "", $1); print $1 }' | paste -sd ' ')
[ "${VM_CHROMIUM:-1}" = 1 ] || chromium_cases=""

echo "-- building"
cmake --preset vm -B "$build" >/dev/null
if ! grep -q '^RTMIDI_FOUND:INTERNAL=1' "$build/CMakeCache.txt"; then
    echo "vm: RtMidi was not found, so talveron-update has no MIDI devices to test" >&2
    exit 1
fi
cmake --build "$build" --target talveron-update brevanto-device talveron-update-sim \
    make-sample-kit >/dev/null
# The page for Chromium, in a build directory of this check's own. Debian's Emscripten finds its
# Node modules only through NODE_PATH; the page's driver comes with npm ci.
if [ -n "$chromium_cases" ]; then
    export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
    (cd web && npm ci --no-audit --no-fund --loglevel=error)
    [ -f "$build/web/CMakeCache.txt" ] ||
        emcmake cmake --preset web -B "$build/web" -DTALVERON_WEB_OUT="$build/web-page" >/dev/null
    cmake --build "$build/web" -j 2 >/dev/null
fi
# The Windows products in the build directories .ci/windows.sh uses, with the same presets, so
# that in CI, which runs that check first, these builds find nothing to do.
for bits in 32 64; do
    case $bits in 32) arch=i686 ;; 64) arch=x86_64 ;; esac
    cmake --preset "win$bits" >/dev/null
    cmake --build "$root/build-win$bits" --target talveron-update >/dev/null
    "$arch-w64-mingw32-gcc" -O2 -Wall -Werror -o "$build/midi-open-close-$bits.exe" \
        .ci/vm/midi-open-close.c -lwinmm
done

# Each job in a file of its own, sourced in order: they share the settings above and what the jobs
# before them set.
# shellcheck source=vm/stage.sh
. .ci/vm/stage.sh
# shellcheck source=vm/accel.sh
. .ci/vm/accel.sh
# shellcheck source=vm/wine-prefix.sh
. .ci/vm/wine-prefix.sh
# shellcheck source=vm/boot.sh
. .ci/vm/boot.sh
# shellcheck source=vm/check.sh
. .ci/vm/check.sh
