#!/usr/bin/env python3
"""Writes the frames of an Ethernet savefile again under other link types, as captures of the
same traffic on other links would hold them (VLAN-tagged frames are left out).

Usage: make_link_types.py SAMPLE.pcap FOLDER
Writes FOLDER/raw.pcap (raw IP, IPv4 and IPv6 frames only), null.pcap (BSD loopback, the same
frames), sll.pcap and sll2.pcap (Linux cooked capture v1 and v2, ARP too) and user.pcap (link
type 147, a private one no tool decodes, the frames unchanged).
"""
import os
import struct
import sys

ETHER_IPV4, ETHER_IPV6, ETHER_ARP = 0x0800, 0x86DD, 0x0806
LINKTYPE_NULL, LINKTYPE_RAW, LINKTYPE_SLL, LINKTYPE_SLL2, LINKTYPE_USER0 = 0, 101, 113, 276, 147
AF_INET, AF_INET6_BSD = 2, 24


def read(path):
    with open(path, "rb") as f:
        data = f.read()
    assert struct.unpack("<I", data[:4])[0] == 0xA1B2C3D4, "little-endian microsecond pcap only"
    offset = 24
    while offset < len(data):
        seconds, micros, captured, wire = struct.unpack("<IIII", data[offset:offset + 16])
        yield seconds, micros, wire, data[offset + 16:offset + 16 + captured]
        offset += 16 + captured


def write(path, link_type, records):
    with open(path, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 262144, link_type))
        for seconds, micros, wire, frame in records:
            f.write(struct.pack("<IIII", seconds, micros, len(frame), wire) + frame)


def packet_type(destination):
    if destination == b"\xff" * 6:
        return 1  # broadcast
    return 2 if destination[0] & 1 else 0  # multicast, or to us


def main():
    sample, folder = sys.argv[1], sys.argv[2]
    frames = [r for r in read(sample) if struct.unpack(">H", r[3][12:14])[0] in
              (ETHER_IPV4, ETHER_IPV6, ETHER_ARP)]
    ip = [r for r in frames if struct.unpack(">H", r[3][12:14])[0] != ETHER_ARP]

    def rewrap(records, header_of):
        for seconds, micros, wire, frame in records:
            header = header_of(frame)
            yield seconds, micros, wire - 14 + len(header), header + frame[14:]

    def family(frame):
        return AF_INET if frame[12:14] == b"\x08\x00" else AF_INET6_BSD

    write(os.path.join(folder, "raw.pcap"), LINKTYPE_RAW, rewrap(ip, lambda f: b""))
    write(os.path.join(folder, "null.pcap"), LINKTYPE_NULL,
          rewrap(ip, lambda f: struct.pack("<I", family(f))))
    write(os.path.join(folder, "sll.pcap"), LINKTYPE_SLL, rewrap(
        frames, lambda f: struct.pack(">HHH", packet_type(f[0:6]), 1, 6) + f[6:12] + b"\0\0" +
        f[12:14]))
    write(os.path.join(folder, "sll2.pcap"), LINKTYPE_SLL2, rewrap(
        frames, lambda f: f[12:14] + struct.pack(">HIHBB", 0, 3, 1, packet_type(f[0:6]), 6) +
        f[6:12] + b"\0\0"))
    write(os.path.join(folder, "user.pcap"), LINKTYPE_USER0, frames)


if __name__ == "__main__":
    main()
