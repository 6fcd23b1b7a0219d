#!/usr/bin/env python3
"""Compares the frames of two pcap savefiles: same link type, same count, same bytes, same
order.

Usage: compare_savefiles.py [--times | --wire] [--first N] ACTUAL EXPECTED
  --times    capture times and wire lengths must match too
  --wire     wire lengths must match too
  --first N  compare only the first N frames of EXPECTED (ACTUAL must hold exactly N)
Prints the first difference and exits 1, or prints the count compared and exits 0.
"""
import argparse
import struct
import sys


def frames(path):
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 24:
        sys.exit("%s: too short for a savefile" % path)
    magic = struct.unpack("<I", data[:4])[0]
    order = {0xA1B2C3D4: "<", 0xD4C3B2A1: ">", 0xA1B23C4D: "<", 0x4D3CB2A1: ">"}.get(magic)
    if order is None:
        sys.exit("%s: not a pcap savefile (magic 0x%08x)" % (path, magic))
    nanoseconds = magic in (0xA1B23C4D, 0x4D3CB2A1)
    link_type = struct.unpack(order + "I", data[20:24])[0] & 0x0FFFFFFF
    result, offset = [], 24
    while offset + 16 <= len(data):
        seconds, fraction, captured, wire = struct.unpack(order + "IIII", data[offset:offset + 16])
        micros = fraction // 1000 if nanoseconds else fraction
        result.append(((seconds, micros, wire), data[offset + 16:offset + 16 + captured]))
        offset += 16 + captured
    if offset != len(data):
        sys.exit("%s: the last record is cut short" % path)
    return link_type, result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--times", action="store_true")
    parser.add_argument("--wire", action="store_true")
    parser.add_argument("--first", type=int)
    parser.add_argument("actual")
    parser.add_argument("expected")
    args = parser.parse_args()
    (actual_type, actual), (expected_type, expected) = frames(args.actual), frames(args.expected)
    if actual_type != expected_type:
        print("link type %d against %d" % (actual_type, expected_type))
        return 1
    if args.first is not None:
        expected = expected[:args.first]
    for index, (got, want) in enumerate(zip(actual, expected), start=1):
        if got[1] != want[1]:
            print("frame %d differs: %d bytes %s... against %d bytes %s..."
                  % (index, len(got[1]), got[1][:24].hex(), len(want[1]), want[1][:24].hex()))
            return 1
        if args.times and got[0] != want[0]:
            print("frame %d: time/wire length %s against %s" % (index, got[0], want[0]))
            return 1
        if args.wire and got[0][2] != want[0][2]:
            print("frame %d: wire length %d against %d" % (index, got[0][2], want[0][2]))
            return 1
    if len(actual) != len(expected):
        print("%s holds %d frames, %s %d" % (args.actual, len(actual), args.expected, len(expected)))
        return 1
    print("%d frames equal" % len(actual))
    return 0


if __name__ == "__main__":
    sys.exit(main())
