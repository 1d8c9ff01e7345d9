#!/usr/bin/env bash
# End to end on real MIDI ports, in a virtual machine: this machine has no sound kernel modules.
# Boots the distribution's kernel with busybox and the ALSA sequencer modules, plays the Brevanto
# device there on sequencer ports of its own (brevanto-device) and runs talveron-update against it
# in several cases. Each transcript is compared byte for byte with the expected one, and what the
# device received with what the emulated run sends. Where a run ends without a device (no
# sequencer, none attached, a user without access), standard error must say why in one line.
# Usage: .ci/vm.sh   (environment: VM_BUILD=build dir, default build-vm; VM_TIMEOUT seconds;
#   VM_ACCEL=kvm|tcg forces the accelerator, which is otherwise KVM only after a probe boots)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/${VM_BUILD:-build-vm}"
# The whole guest took 841 s under TCG with a 32-bit Wine prefix to make, most of it Wine's starts
# and the real waits of silent devices (a pulled cable alone costs 125 s a program): 1200 s ends
# a guest that hangs and leaves room for a slow one.
vm_timeout=${VM_TIMEOUT:-1200}
kit_name=Brevanto_vm.kit
kit_bytes=4096  # 16 records: quick under emulation
modules="soundcore snd snd-timer snd-hrtimer snd-seq-device snd-seq snd-seq-dummy"
# For the Windows products under Wine: the host's root over virtio-9p under an overlay, and a
# dummy sound card as card 0 (without one every Wine process prints ALSA errors).
wine_modules="virtio_pci 9pnet_virtio 9p overlay snd-dummy"
# For the USB MIDI gadget: the dummy USB controller, the gadget's MIDI function, the USB audio
# class driver and the sequencer's ports for raw MIDI cards.
usb_modules="dummy_hcd usb_f_midi snd-usb-audio snd-seq-midi"

tools/install-deps.sh base linux vm windows
started=$(date +%s)

echo "-- building"
cmake --preset vm -B "$build" >/dev/null
if ! grep -q '^RTMIDI_FOUND:INTERNAL=1' "$build/CMakeCache.txt"; then
    echo "vm: RtMidi was not found, so talveron-update has no MIDI devices to test" >&2
    exit 1
fi
cmake --build "$build" --target talveron-update brevanto-device talveron-update-sim \
    make-sample-kit >/dev/null
# The Windows products in the build directories .ci/windows.sh uses, with the same presets, so
# that in CI, which runs that check first, these builds find nothing to do.
for bits in 32 64; do
    case $bits in 32) arch=i686 ;; 64) arch=x86_64 ;; esac
    cmake --preset "win$bits" >/dev/null
    cmake --build "$root/build-win$bits" --target talveron-update >/dev/null
    "$arch-w64-mingw32-gcc" -O2 -Wall -Werror -o "$build/midi-open-close-$bits.exe" \
        .ci/vm/midi-open-close.c -lwinmm
done

echo "-- kernel"
# The distribution kernel, unpacked rather than installed: installing rebuilds an initramfs.
cache="$build/kernel"
mkdir -p "$cache"
kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
}
package=$(kernel_package)
if [ -z "$package" ]; then
    apt-get update -qq
    package=$(kernel_package)
fi
[ -n "$package" ] || { echo "vm: no linux-image-amd64 in the package lists" >&2; exit 1; }
if [ ! -d "$cache/$package" ]; then
    rm -rf "$cache"/linux-image-* "$cache"/*.deb
    download() { (cd "$cache" && apt-get download -q -o APT::Sandbox::User=root "$package" >/dev/null); }
    if ! download; then
        # Old package lists may name a kernel the mirror no longer has.
        apt-get update -qq
        package=$(kernel_package)
        download
    fi
    mkdir -p "$cache/$package.tmp"
    dpkg-deb -x "$cache"/"$package"_*.deb "$cache/$package.tmp"
    rm -f "$cache"/*.deb
    mv "$cache/$package.tmp" "$cache/$package"
fi
kernel_root="$cache/$package"
vmlinuz=$(ls "$kernel_root"/boot/vmlinuz-*)

echo "-- initramfs"
stage="$build/initramfs"
rm -rf "$stage"
mkdir -p "$stage"/{bin,dev,etc,proc,sys,tmp,kit,opt/talveron,lib/modules,usr/share/alsa}
# A user without privileges, and the group that may use the sequencer, as on a desktop.
printf 'root:x:0:0:root:/:/bin/sh\nnobody:x:65534:65534:nobody:/:/bin/sh\n' >"$stage/etc/passwd"
printf 'root:x:0:\naudio:x:29:\nnogroup:x:65534:\n' >"$stage/etc/group"
printf 'passwd: files\ngroup: files\n' >"$stage/etc/nsswitch.conf"
cp /bin/busybox "$stage/bin/busybox"
cp .ci/vm/guest-init.sh "$stage/init"
chmod 755 "$stage/init"
for program in talveron-update brevanto-device; do
    cp "$build/$program" "$stage/opt/talveron/"
    for library in $(ldd "$build/$program" | grep -o '/[^ ]*'); do
        mkdir -p "$stage$(dirname "$library")"
        cp -L "$library" "$stage$library"
    done
done
# libasound reads its configuration to find the sequencer.
cp /usr/share/alsa/alsa.conf "$stage/usr/share/alsa/"
# stage_module NAME ORDER_FILE: the module and, first, those it depends on (busybox insmod
# resolves nothing), each once, in the order they must be loaded.
stage_module() {
    local module=$1 order=$2 file plain dependency
    [ -f "$stage/lib/modules/$module.ko" ] && return 0
    file=$(find "$kernel_root"/lib/modules/*/kernel \( -name "$module.ko*" -o \
        -name "${module//-/_}.ko*" \) | head -n 1)
    [ -n "$file" ] || { echo "vm: module $module is not in $package" >&2; exit 1; }
    plain=$(mktemp)
    # busybox insmod takes plain modules only.
    case "$file" in
    *.xz) xz -dc "$file" ;;
    *.zst) zstd -qdc "$file" ;;
    *) cat "$file" ;;
    esac >"$plain"
    for dependency in $(strings -a "$plain" | sed -n 's/^depends=//p' | tr ',' ' '); do
        stage_module "$dependency" "$order"
    done
    mv "$plain" "$stage/lib/modules/$module.ko"
    echo "$module" >>"$stage/lib/modules/$order"
}
for module in $modules; do stage_module "$module" order; done
for module in $wine_modules; do stage_module "$module" order.wine; done
for module in $usb_modules; do stage_module "$module" order.usb; done

# The cases after the two without a device: name and brevanto-device options.
declare -A options=(
    [success]=""
    [silent]="--probes none"
    [wrong-kind]="--identity 0x34"
    [retry]="--reply 2=0x20/2 --reply 3=none/1"
)
cases="success silent wrong-kind retry"
"$build/make-sample-kit" "$stage/kit/$kit_name" "$kit_bytes"
echo "$cases" >"$stage/kit/cases"
for case in $cases; do
    echo "${options[$case]}" >"$stage/kit/$case.options"
done
# The Windows products' share: the guest writes its results to out/; the 32-bit Wine prefix,
# which only the guest can make (this kernel may run no 32-bit programs), stays between checks.
share="$build/vm-share"
wine_bits=${VM_WINE_BITS-64 32}
# Over USB: the Linux product, and the 32-bit Windows one where its Wine prefix is made.
usb_default=linux
[[ " $wine_bits " != *" 32 "* ]] || usb_default="linux wine32"
usb_programs=${VM_USB_PROGRAMS-$usb_default}
usb_cases="success retry"
mkdir -p "$share"
rm -rf "$share/out" "$share"/*.options
mkdir "$share/out"
cp "$stage/kit/$kit_name" "$share/"
for case in $cases; do
    echo "${options[$case]}" >"$share/$case.options"
done
printf 'root=%q\nbuild=%q\nkit_name=%q\nwine_cases=%q\nwine_bits=%q\nopen_close_tries=%q\n' \
    "$root" "$build" "$kit_name" "$cases" "$wine_bits" "${VM_OPEN_CLOSE_TRIES:-1}" >"$share/config"
# The cable is pulled after about a third of what a whole update sends, which is the kit's hex
# text with a few bytes around each record.
unplug_bytes=$(($(tr -d '\r\n' <"$stage/kit/$kit_name" | wc -c) / 3))
printf 'usb_programs=%q\nusb_cases=%q\nunplug_bytes=%q\n' "$usb_programs" "$usb_cases" \
    "$unplug_bytes" >>"$share/config"
[ -z "$wine_bits" ] || touch "$stage/kit/wine"
[ -z "$usb_programs" ] || touch "$stage/kit/usb"
(cd "$stage" && find . | cpio -o -H newc --quiet | gzip -1) >"$build/initramfs.cpio.gz"

# KVM only where a guest really boots with it: on some machines /dev/kvm opens, but the guest
# spins without printing a line. VM_ACCEL=kvm or VM_ACCEL=tcg forces either.
probe_kvm() {
    local probe="$build/kvm-probe"
    rm -rf "$probe"
    mkdir -p "$probe/root/bin"
    cp /bin/busybox "$probe/root/bin/busybox"
    printf '#!/bin/busybox sh\n/bin/busybox echo @@@ KVM PROBE BOOTED\n/bin/busybox poweroff -f\n' \
        >"$probe/root/init"
    chmod 755 "$probe/root/init"
    (cd "$probe/root" && find . | cpio -o -H newc --quiet | gzip -1) >"$probe/initramfs.cpio.gz"
    local status=0
    timeout --kill-after=5 "$kvm_probe_seconds" qemu-system-x86_64 -accel kvm -m 256 -smp 1 \
        -kernel "$vmlinuz" -initrd "$probe/initramfs.cpio.gz" \
        -append "console=ttyS0 quiet loglevel=1 panic=-1" \
        -display none -serial stdio -monitor none -no-reboot </dev/null >"$probe/console.log" 2>&1 || status=$?
    if grep -q '@@@ KVM PROBE BOOTED' "$probe/console.log"; then
        return 0
    fi
    if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
        accel_reason="a KVM guest printed nothing within $kvm_probe_seconds s"
    else
        accel_reason="qemu with KVM failed (status $status): $(grep -m 1 . "$probe/console.log")"
    fi
    return 1
}
kvm_probe_seconds=${VM_KVM_PROBE_SECONDS:-15}
case "${VM_ACCEL:-}" in
kvm | tcg)
    accel=$VM_ACCEL
    accel_reason="forced by VM_ACCEL"
    ;;
"")
    if [ ! -e /dev/kvm ]; then
        accel=tcg
        accel_reason="no /dev/kvm"
    elif [ ! -w /dev/kvm ]; then
        accel=tcg
        accel_reason="/dev/kvm is not writable"
    elif probe_kvm; then
        accel=kvm
        accel_reason="a KVM guest booted in the probe"
    else
        accel=tcg
    fi
    ;;
*)
    echo "vm: VM_ACCEL must be kvm or tcg, not '$VM_ACCEL'" >&2
    exit 2
    ;;
esac
echo "-- accelerator: $accel ($accel_reason)"

# The 64-bit prefix is made here, where it takes seconds rather than minutes.
prefix64="$build/wine-prefix64"
if [ -n "$wine_bits" ] && [ ! -f "$prefix64/.talveron-ready" ]; then
    echo "-- Wine prefix"
    rm -rf "$prefix64"
    (export WINEPREFIX="$prefix64" WINEARCH=win64 WINEDEBUG=-all HOME=/tmp
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    unset DISPLAY WAYLAND_DISPLAY
    timeout 300 /usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1
    timeout 60 /usr/lib/wine/wineserver64 -w)
    touch "$prefix64/.talveron-ready"
fi

echo "-- booting ($package)"
console="$build/vm-console.log"
boot_started=$(date +%s%N)
status=0
timeout --kill-after=10 "$vm_timeout" qemu-system-x86_64 -accel "$accel" -m 3072 -smp 1 \
    -kernel "$vmlinuz" -initrd "$build/initramfs.cpio.gz" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs local,path="$share",mount_tag=results,security_model=none,multidevs=remap \
    -virtfs local,path="$root",mount_tag=checkout,security_model=none,readonly=on,multidevs=remap \
    -append "console=ttyS0 quiet loglevel=1 panic=-1" \
    -display none -serial stdio -monitor none -no-reboot </dev/null >"$console" 2>&1 || status=$?
vm_ms=$((($(date +%s%N) - boot_started) / 1000000))
tr -d '\r' <"$console" >"$console.txt"
if [ "$status" -ne 0 ]; then
    echo "vm: the virtual machine did not finish (status $status); its console:" >&2
    tail -n 40 "$console.txt" >&2
    exit 1
fi

# block NAME: the bytes the guest printed between the markers of NAME.
block() {
    awk -v begin="@@@ BEGIN $1" -v end="@@@ END $1" \
        '$0 == end { on = 0 } on { print } $0 == begin { on = 1 }' "$console.txt" | base64 -d
}
visible() { sed -e 's/\r/\\r/g' -e 's/^/    /'; }

# The expected transcripts, built from the same rules the updater follows.
banner="TALVERON Update V0.5 -> TALVERON Brevanto System"$'\n'
file_open="OK: File '$kit_name' is open."$'\n'
devices=$'MIDI IN DEVICE: TALVERON Device\r\nMIDI OUT DEVICE: TALVERON Device\r\n'
prompt=$'Press any key to continue . . . \n'
no_in=$'Error: The MIDI In of device is missing!\n\n'
spinner='--\\||//'
progress() { printf '\r                        \rTransferring.. %s %d%% done' "${spinner:$1:1}" "$2"; }
# The sample kit's records: 256 payload bytes each, the last one what is left.
record_sizes() {
    local left=$kit_bytes
    while [ $((left)) -ge 5 ]; do
        local payload=$((left - 4 < 256 ? left - 4 : 256))
        echo $((payload + 4))
        left=$((left - payload - 4))
    done
}
successful_transfer() {
    local acknowledged=0 spin=0
    for size in $(record_sizes); do
        progress $spin $((acknowledged * 100 / kit_bytes))
        spin=$(((spin + 1) % 8))
        acknowledged=$((acknowledged + size))
    done
    printf '\rTransferring.. 100%% done.  \nTarget update successfully!'
}

declare -A expected=(
    [no-sequencer]="$banner$file_open$no_in$prompt"
    [no-device]="$banner$file_open$no_in$prompt"
    [owner-only]="$banner$file_open$no_in$prompt"
    [no-permission]="$banner$file_open$no_in$prompt"
    [success]="$banner$file_open$devices$(successful_transfer)"$'\n\n'"$prompt"
    [silent]="$banner$file_open$devices"$'\nFailed: Target is not responding.\n\n'"$prompt"
    [wrong-kind]="$banner$file_open$devices"$'Error: The device and the upgrade file is not matched!\n\n'"$prompt"
)

# Standard error: empty, but for the one line that says why a run ends without a device.
seq_node=/dev/snd/seq
declare -A expected_err=(
    [no-sequencer]="talveron-update: no ALSA sequencer: $seq_node: No such file or directory; load its module (sudo modprobe snd-seq)"$'\n'
    [no-device]="talveron-update: the ALSA sequencer lists no MIDI device: attach the device and power it on (aconnect -l shows what is there)"$'\n'
    [owner-only]="talveron-update: cannot open $seq_node: Permission denied; only the user root may: give it the group audio (sudo chgrp audio $seq_node && sudo chmod 660 $seq_node), join that group and log in again"$'\n'
    [no-permission]="talveron-update: cannot open $seq_node: Permission denied; only the group audio may: join it (sudo usermod -aG audio \$USER) and log in again"$'\n'
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

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
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
printf 'brevanto-device: %s' "${expected_err[no-sequencer]#talveron-update: }" \
    >"$build/device-no-sequencer.expected-err"
cmp -s "$build/device-no-sequencer.expected-err" <(block device-no-sequencer.err) ||
    fail "brevanto-device without a sequencer does not say why in one line"
for case in $cases; do
    check_device_case "$case"
done
# The flashed image is the kit's image byte for byte.
block success.flashed | od -An -v -tx1 | tr -d ' \n' | tr a-f A-F >"$build/success.flashed.hex"
tr -d '\r\n' <"$stage/kit/$kit_name" >"$build/kit.hex"
cmp -s "$build/kit.hex" "$build/success.flashed.hex" ||
    fail "success: the device did not flash the kit's image"

# The Windows products under Wine: standard output is in text mode, so every line feed must come
# as CR LF; with one CR taken off each and cmd's prompt as Wine prints it (no key ever comes, so
# no line break follows) in place of ours, it must equal the Linux product's transcript.
wine_out="$share/out"
wine_prompt='Press any key to continue... '
wine_crashes=""
as_linux() {
    local text
    text=$(cat "$1"; echo .)
    text=${text%.}
    if [[ $text == $'\n'* || $text == *[!$'\r']$'\n'* ]]; then
        printf '%s[a line feed without CR]' "$text"
        return
    fi
    text=${text//$'\r\n'/$'\n'}
    [[ $text == *"$wine_prompt" ]] && text=${text%"$wine_prompt"}$prompt
    printf '%s' "$text"
}
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
            as_linux "$wine_out/$name.out" >"$build/$name.out" 2>/dev/null
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
        od -An -v -tx1 "$wine_out/wine$bits-success.flashed" | tr -d ' \n' | tr a-f A-F \
            >"$build/wine$bits-success.flashed.hex"
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
                as_linux "$wine_out/$name.out" >"$build/$name.out" 2>/dev/null
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
                od -An -v -tx1 "$wine_out/$name.flashed" | tr -d ' \n' | tr a-f A-F \
                    >"$build/$name.flashed.hex"
                cmp -s "$build/kit.hex" "$build/$name.flashed.hex" ||
                    fail "$name: the device did not flash the kit's image"
            fi
        done
        # The cable pulled part-way: whatever the drivers do, the run ends by itself with one of
        # its failure messages and the prompt, never a success. Neither stack tells the program,
        # so the current record's 20 attempts go unanswered, each waited for up to the device's
        # latest answer time: 125 s. The bound leaves 25 s for closing the ports, and under Wine
        # for cmd's prompt. Ending on "not responding", the program has waited at least the 19
        # attempts wholly after the pull: its waits' floor on the real stacks and clock.
        name=usb-$program-unplug
        if [ "$program" = linux ]; then
            cp "$wine_out/$name.out" "$build/$name.out" 2>/dev/null
        else
            as_linux "$wine_out/$name.out" >"$build/$name.out" 2>/dev/null
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
        if grep -qx 'Failed: Target is not responding.' "$build/$name.out" &&
            awk -v a="${after:-0}" 'BEGIN { exit !(a < 19 * 6.25) }'; then
            fail "$name: not responding $after s after the pull, less than 19 attempts' 118.75 s"
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

echo
echo "booted in $(awk '$1 == "@@@" && $2 == "BOOTED" { print $3 }' "$console.txt") s," \
    "all cases done at $(awk '$1 == "@@@" && $2 == "DONE" { print $3 }' "$console.txt") s" \
    "(guest clock); virtual machine $((vm_ms / 1000)).$(printf '%03d' $((vm_ms % 1000))) s, whole check $(($(date +%s) - started)) s"
if [ "$failures" -ne 0 ]; then
    echo "vm: $failures failure(s); console log in $console"
    exit 1
fi
echo "vm: all cases as expected"
