#!/usr/bin/env python3
"""Writes the savefiles of the decoding and filter checks, built frame by frame.

Usage: make_decoding_cases.py FOLDER
Writes FOLDER/null-darwin.pcap (link type 0, address family 30 as macOS writes it),
null-linux.pcap (link type 0, Linux's family 10 for IPv6), loop.pcap (link type 108, families
in network byte order): the same 20 IPv4/IPv6 frames each; and FOLDER/cases.pcap (Ethernet):
IPv6 behind extension headers, a TCP data offset below 5, an IPv4 total length below its
header, GRE, IPv6 in IPv4, RARP, spanning tree and a TCP SYN with options.
"""
import os
import struct
import sys

IP4_A, IP4_B = bytes([192, 0, 2, 10]), bytes([192, 0, 2, 20])
IP6_A = bytes.fromhex("20010db8000000000000000000000010")
IP6_B = bytes.fromhex("20010db8000000000000000000000020")
MLD_ROUTERS = bytes.fromhex("ff020000000000000000000000000016")
MAC_A, MAC_B = bytes.fromhex("020000000001"), bytes.fromhex("020000000002")
STP_GROUP = bytes.fromhex("0180c2000000")
TCP, UDP, GRE, IPV6_IN_IP, ICMPV6, HOP_BY_HOP, FRAGMENT = 6, 17, 47, 41, 58, 0, 44


def checksum(data):
    data += b"\0" * (len(data) % 2)
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def ipv4(proto, payload, total=None, ident=1, flags=0x4000, ttl=64):
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, total or 20 + len(payload), ident, flags, ttl,
                         proto, 0, IP4_A, IP4_B)
    return header[:10] + struct.pack("!H", checksum(header)) + header[12:] + payload


def ipv6(next_header, payload, src=IP6_A, dst=IP6_B, hops=64):
    return struct.pack("!IHBB", 0x60000000, len(payload), next_header, hops) + src + dst + payload


def tcp(sport, dport, flags=0x18, data=b"", offset=5, options=b""):
    return struct.pack("!HHIIBBHHH", sport, dport, 1000, 2000, offset << 4, flags, 8192, 0, 0) + \
        options + data


def udp(sport, dport, data=b""):
    return struct.pack("!HHHH", sport, dport, 8 + len(data), 0) + data


def ethernet(ethertype_or_length, payload, dst=MAC_B, src=MAC_A):
    frame = dst + src + struct.pack("!H", ethertype_or_length) + payload
    return frame + b"\0" * max(0, 60 - len(frame))


def write(path, link_type, frames):
    with open(path, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 262144, link_type))
        for i, frame in enumerate(frames):
            f.write(struct.pack("<IIII", 1714564800 + i, 0, len(frame), len(frame)) + frame)


def loopback_packets():
    """20 packets: IPv4 and IPv6, TCP to and from port 80 and other ports, UDP."""
    packets = []
    for i in range(20):
        version = 6 if i % 5 in (1, 2, 4) else 4
        port = 80 if i % 2 == 0 else 8080
        transport = (TCP, tcp(40000 + i, port)) if i % 4 != 3 else (UDP, udp(5000 + i, 53, b"q"))
        packets.append((version, ipv6(*transport) if version == 6 else ipv4(*transport)))
    return packets


def decoding_cases():
    hop_by_hop_mld = ipv6(HOP_BY_HOP, bytes([ICMPV6, 0, 5, 2, 0, 0, 1, 0]) +
                          struct.pack("!BBHHH", 143, 0, 0, 0, 0), dst=MLD_ROUTERS, hops=1)
    fragment = ipv6(FRAGMENT, struct.pack("!BBHI", UDP, 0, 0x0001, 0x1234) + udp(5000, 53, b"x" * 8))
    stp = bytes([0x42, 0x42, 0x03]) + struct.pack("!HBBB", 0, 0, 0, 0) + \
        bytes.fromhex("8000020000000001") + struct.pack("!I", 4) + \
        bytes.fromhex("8000020000000002") + struct.pack("!HHHHH", 0x8001, 0, 20 * 256, 2 * 256, 15 * 256)
    # mss 1460, nop, wscale 7, sackOK, TS val 1 ecr 0
    syn_options = struct.pack("!BBH", 2, 4, 1460) + bytes([1, 3, 3, 7, 4, 2]) + \
        struct.pack("!BBII", 8, 10, 1, 0)
    rarp = struct.pack("!HHBBH", 1, 0x0800, 6, 4, 3) + MAC_A + bytes(4) + MAC_A + bytes(4)
    return [
        ethernet(0x86DD, hop_by_hop_mld),
        ethernet(0x86DD, fragment),
        ethernet(0x0800, ipv4(TCP, tcp(40000, 80, offset=4))),
        ethernet(0x0800, ipv4(UDP, udp(5000, 53, b"abcd"), total=16)),
        ethernet(0x0800, ipv4(GRE, struct.pack("!HH", 0, 0x0800) + ipv4(UDP, udp(5000, 53, b"g")))),
        ethernet(0x0800, ipv4(IPV6_IN_IP, ipv6(TCP, tcp(40001, 443, flags=0x02)))),
        ethernet(0x8035, rarp, dst=b"\xff" * 6),
        ethernet(len(stp) + 3, stp, dst=STP_GROUP),
        ethernet(0x0800, ipv4(TCP, tcp(40002, 80, flags=0x02, offset=10, options=syn_options),
                              ident=4660, ttl=63)),
    ]


def main():
    folder = sys.argv[1]
    packets = loopback_packets()
    for name, link_type, pack, inet6 in (("null-darwin.pcap", 0, "<I", 30), ("null-linux.pcap", 0, "<I", 10),
                                         ("loop.pcap", 108, ">I", 30)):
        write(os.path.join(folder, name), link_type,
              [struct.pack(pack, inet6 if version == 6 else 2) + p for version, p in packets])
    write(os.path.join(folder, "cases.pcap"), 1, decoding_cases())


if __name__ == "__main__":
    main()
