# shellcheck shell=bash disable=SC2154,SC2034 # sourced: settings come from .ci/vm.sh and the jobs before
# Sourced by .ci/vm.sh after stage.sh: decides the accelerator. Sets accel and accel_reason.

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

