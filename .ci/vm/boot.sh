# shellcheck shell=bash disable=SC2154,SC2034 # sourced: settings come from .ci/vm.sh and the jobs before
# Sourced by .ci/vm.sh: boots the guest, which runs every case, and keeps its serial console in
# $console and, without CRs, in $console.txt. Sets vm_ms; a guest that does not finish ends the
# check.

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

