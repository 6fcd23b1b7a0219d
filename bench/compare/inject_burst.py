#!/usr/bin/env python3
# Sends N numbered 60-byte frames through an AF_PACKET socket on INTERFACE as
# fast as the socket takes them; prints the rate on stderr.
#   inject_burst.py INTERFACE N
import socket
import struct
import sys
import time

interface, count = sys.argv[1], int(sys.argv[2])
out = socket.socket(socket.AF_PACKET, socket.SOCK_RAW)
out.bind((interface, 0))
header = bytes.fromhex("020000000002" "020000000001" "88b5")
frames = [header + struct.pack(">I", i) + bytes(42) for i in range(count)]
start = time.monotonic()
for frame in frames:
    out.send(frame)
took = time.monotonic() - start
print(f"burst: {count} frames injected in {took:.3f} s ({count / took:.0f} frames/s)",
      file=sys.stderr)
