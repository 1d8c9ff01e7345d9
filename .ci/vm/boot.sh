# shellcheck shell=bash disable=SC2154,SC2034 # sourced: settings come from .ci/vm.sh and the jobs before
# Sourced by .ci/vm.sh: boots the guest, which runs every case, and keeps its serial console in
# $console and, without CRs, in $console.txt. Sets vm_ms; a guest that does not finish ends the
# check.

echo "-- booting ($package)"
console="$build/vm-console.log"
# The DIN-rate port: the guest's second UART (the kernel's 8250 driver keeps to the console's
# port, and PNP does not hand it the other one) and two virtio-serial ports for the device's end
# and the cable's controls, all three sockets of the host's cable, which listens before QEMU
# connects to it.
din_qemu=()
din_append=""
pacer_pid=""
if [ -n "$din_kits" ]; then
    cable_dir="$build/din-cable"
    rm -rf "$cable_dir"
    mkdir -p "$cable_dir"
    python3 .ci/vm/din-pacer.py "$cable_dir" 2>"$cable_dir/pacer.err" &
    pacer_pid=$!
    for socket in uart device control; do
        tries=0
        until [ -S "$cable_dir/$socket.sock" ]; do
            tries=$((tries + 1))
            if [ $tries -gt 100 ]; then
                echo "vm: the DIN cable did not start: $(cat "$cable_dir/pacer.err")" >&2
                kill "$pacer_pid" 2>/dev/null
                exit 1
            fi
            sleep 0.1
        done
    done
    din_qemu=(-chardev "socket,id=dinuart,path=$cable_dir/uart.sock"
        -device isa-serial,chardev=dinuart,iobase=0x2f8,irq=3
        -device virtio-serial-pci
        -chardev "socket,id=dinfar,path=$cable_dir/device.sock"
        -device virtserialport,chardev=dinfar,name=din-far
        -chardev "socket,id=dincontrol,path=$cable_dir/control.sock"
        -device virtserialport,chardev=dincontrol,name=din-control)
    din_append=" 8250.nr_uarts=1 pnpacpi=off"
fi
boot_started=$(date +%s%N)
status=0
timeout --kill-after=10 "$vm_timeout" qemu-system-x86_64 -accel "$accel" -m 3072 -smp 1 \
    -kernel "$vmlinuz" -initrd "$build/initramfs.cpio.gz" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs local,path="$share",mount_tag=results,security_model=none,multidevs=remap \
    -virtfs local,path="$root",mount_tag=checkout,security_model=none,readonly=on,multidevs=remap \
    "${din_qemu[@]}" -append "console=ttyS0 quiet loglevel=1 panic=-1$din_append" \
    -display none -serial stdio -monitor none -no-reboot </dev/null >"$console" 2>&1 || status=$?
vm_ms=$((($(date +%s%N) - boot_started) / 1000000))
if [ -n "$pacer_pid" ]; then
    kill "$pacer_pid" 2>/dev/null || true
    wait "$pacer_pid" 2>/dev/null || true
fi
tr -d '\r' <"$console" >"$console.txt"
if [ "$status" -ne 0 ]; then
    echo "vm: the virtual machine did not finish (status $status); its console:" >&2
    tail -n 40 "$console.txt" >&2
    exit 1
fi

