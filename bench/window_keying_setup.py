#!/usr/bin/env python3
"""Patches a default settings file for keying measurements of the window on a faked
serial port: port kind serial, the given port name, serial-port output, and texts in
send buffers.

  window_keying_setup.py SETTINGS-FILE [--port /dev/ttyKEY0] [--wpm 20] [--buffer N=TEXT ...]
"""
import argparse
import struct

SPEED = 8                 # int32, transmit wpm
BUFFERS = 24              # buffer n at 24 + 4096 (n - 1), 4096 bytes, NUL-terminated
BUFFER_SIZE = 4096
PORT_KIND = 81972         # int32: 0 parallel, 1 serial, 2 none
PORT_NAME = 81976         # 16 bytes, NUL-padded
OUTPUT_DEVICE = 82074     # int32: nonzero serial port, 0 sound card


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("file")
    ap.add_argument("--port", default="/dev/ttyKEY0")
    ap.add_argument("--wpm", type=int, default=20)
    ap.add_argument("--buffer", action="append", default=[], metavar="N=TEXT")
    a = ap.parse_args()
    data = bytearray(open(a.file, "rb").read())
    if len(data) != 82110:
        raise SystemExit(f"{a.file}: {len(data)} bytes, expected 82110")
    name = a.port.encode()
    if len(name) > 15:
        raise SystemExit("port name longer than 15 bytes")
    data[PORT_KIND:PORT_KIND + 4] = struct.pack("<i", 1)
    data[PORT_NAME:PORT_NAME + 16] = name.ljust(16, b"\0")
    data[OUTPUT_DEVICE:OUTPUT_DEVICE + 4] = struct.pack("<i", 1)
    data[SPEED:SPEED + 4] = struct.pack("<i", a.wpm)
    for spec in a.buffer:
        n, text = spec.split("=", 1)
        n = int(n)
        if not 1 <= n <= 20:
            raise SystemExit("buffer number must be 1..20")
        off = BUFFERS + BUFFER_SIZE * (n - 1)
        raw = text.encode("cp1252")[:BUFFER_SIZE - 1] + b"\0"
        data[off:off + len(raw)] = raw
    open(a.file, "wb").write(data)


if __name__ == "__main__":
    main()
