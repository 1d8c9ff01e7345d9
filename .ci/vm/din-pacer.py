#!/usr/bin/env python3
"""The cable of the DIN-rate MIDI port: carries bytes between the guest's UART and the emulated
device at 31,250 baud, 3,125 bytes a second each way, like a MIDI cable.

Usage: din-pacer.py DIR
Listens on DIR/uart.sock (QEMU's 16550 UART), DIR/device.sock (the virtio-serial port the guest's
brevanto-device plays on) and DIR/control.sock (a virtio-serial port the guest's script talks to),
and logs to DIR/pacer.log. QEMU connects to all three as a client, so this must listen first.

A byte goes on no earlier than 1/3,125 s after the one before it in the same direction, and an
idle line banks nothing: that is the wire's own schedule, and the log gives it. Bytes are taken
from a socket only as the wire takes them, so that the socket fills, QEMU's UART keeps its byte,
and the guest's driver waits, as it would behind a real cable.

Control lines from the guest, each answered with "ok":
  case NAME   logs what the wire carried since the last case line and starts counting anew
  pull        the far end stops taking bytes from the UART (a pulled cable)
  plug        it takes them again, the bytes held meanwhile dropped
"""
import os
import select
import socket
import sys
import threading
import time

BYTES_PER_SECOND = 3125
BYTE_TIME = 1.0 / BYTES_PER_SECOND


class Direction:
    """One way along the cable: its counts since the last case line, on the wire's clock."""

    def __init__(self, name):
        self.name = name
        self.lock = threading.Lock()
        self.reset()

    def reset(self):
        self.bytes = 0
        self.first = None
        self.last = None

    def carried(self, at):
        with self.lock:
            self.bytes += 1
            if self.first is None:
                self.first = at
            self.last = at

    def take(self):
        with self.lock:
            counts = (self.bytes, self.first, self.last)
            self.reset()
            return counts


def listen(path):
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(path)
    server.listen(1)
    return server


def pump(source, sink, direction, connected, started):
    """Carries bytes from source to sink at the wire's pace, while connected is set."""
    next_time = 0.0
    while True:
        connected.wait()
        # The wire's time for a byte: one byte time after the last, or when the byte is known to
        # be there if that is later. A byte found waiting was there when looked for, so a late
        # wake-up of this process costs the wire nothing; one that comes later starts when it
        # comes.
        looked = time.monotonic()
        waiting = bool(select.select([source], [], [], 0)[0])
        byte = source.recv(1)
        if not byte:
            return
        if not connected.is_set():
            continue  # read as the cable was pulled: it never reached the far end
        now = time.monotonic()
        at = max(next_time, looked if waiting else now)
        if at > now:
            time.sleep(at - now)
        sink.sendall(byte)
        next_time = at + BYTE_TIME
        direction.carried(at - started)


def drop_waiting(sock):
    """Takes what waits in the socket without carrying it."""
    sock.setblocking(False)
    try:
        while sock.recv(4096):
            pass
    except BlockingIOError:
        pass
    finally:
        sock.setblocking(True)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: din-pacer.py DIR")
    folder = sys.argv[1]
    servers = {name: listen(os.path.join(folder, name + ".sock"))
               for name in ("uart", "device", "control")}
    log = open(os.path.join(folder, "pacer.log"), "w", buffering=1)
    # QEMU connects in the order of its command line; accept each as it comes.
    peers = {}
    for name, server in servers.items():
        peers[name], _ = server.accept()
        server.close()
    started = time.monotonic()
    log.write("connected\n")
    out = Direction("to-device")
    back = Direction("to-uart")
    plugged = threading.Event()
    plugged.set()
    always = threading.Event()
    always.set()
    threads = [
        threading.Thread(target=pump, args=(peers["uart"], peers["device"], out, plugged, started),
                         daemon=True),
        threading.Thread(target=pump, args=(peers["device"], peers["uart"], back, always, started),
                         daemon=True),
    ]
    for thread in threads:
        thread.start()
    case = "boot"
    control = peers["control"].makefile("rw", buffering=1, newline="\n")
    for line in control:
        words = line.split()
        if not words:
            continue
        if words[0] == "case" and len(words) == 2:
            for direction in (out, back):
                count, first, last = direction.take()
                if count:
                    log.write("%s %s %d %.6f %.6f\n" % (case, direction.name, count, first, last))
            case = words[1]
        elif words[0] == "pull":
            plugged.clear()
            log.write("%s pulled %.6f\n" % (case, time.monotonic() - started))
        elif words[0] == "plug":
            drop_waiting(peers["uart"])
            plugged.set()
            log.write("%s plugged %.6f\n" % (case, time.monotonic() - started))
        else:
            log.write("unknown control line: %s" % line)
        control.write("ok\n")
        control.flush()
    log.write("done\n")


if __name__ == "__main__":
    main()
