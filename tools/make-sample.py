#!/usr/bin/env python3
"""Writes data/sample.pcap: the savefile that pkdv-capture reads when no adapter is given.

A few hundred Ethernet frames of mixed protocols (ARP, IPv4 TCP/UDP/ICMP, IPv6 TCP/UDP/ICMPv6,
802.1Q-tagged frames, an IPv4 fragment and frames of an unknown EtherType), sizes from the
60-byte minimum up to 1514 bytes. All addresses come from the documentation ranges
(192.0.2.0/24, 198.51.100.0/24, 2001:db8::/32) and locally administered MACs. The output is
deterministic: the same script always writes the same bytes.

Usage: tools/make-sample.py [OUTPUT]   (default: data/sample.pcap next to this script's repo)
"""

import os
import random
import struct
import sys

START_SECONDS = 1714564800  # 2024-05-01 12:00:00 UTC
LINKTYPE_ETHERNET = 1
SNAPLEN = 65535

MAC_CLIENT = bytes.fromhex("020000000001")
MAC_SERVER = bytes.fromhex("020000000002")
MAC_ROUTER = bytes.fromhex("0200000000fe")
MAC_BROADCAST = b"\xff" * 6
MAC_V6_ALL_NODES = bytes.fromhex("333300000001")

IP_CLIENT = bytes([192, 0, 2, 10])
IP_SERVER = bytes([192, 0, 2, 20])
IP_ROUTER = bytes([192, 0, 2, 1])
IP_REMOTE = bytes([198, 51, 100, 7])

IP6_CLIENT = bytes.fromhex("20010db8000000000000000000000010")
IP6_SERVER = bytes.fromhex("20010db8000000000000000000000020")
IP6_ALL_NODES = bytes.fromhex("ff020000000000000000000000000001")

ETH_IPV4, ETH_ARP, ETH_VLAN, ETH_IPV6, ETH_EXPERIMENTAL = 0x0800, 0x0806, 0x8100, 0x86DD, 0x88B5
PROTO_ICMP, PROTO_TCP, PROTO_UDP, PROTO_ICMPV6 = 1, 6, 17, 58
TCP_FIN, TCP_SYN, TCP_RST, TCP_PSH, TCP_ACK = 0x01, 0x02, 0x04, 0x08, 0x10


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (~total) & 0xFFFF


def ethernet(dst, src, ethertype, payload, vlan=None):
    header = dst + src
    if vlan is not None:
        header += struct.pack("!HH", ETH_VLAN, vlan)
    frame = header + struct.pack("!H", ethertype) + payload
    return frame + b"\0" * max(0, 60 - len(frame))  # pad to the Ethernet minimum


def ipv4(src, dst, proto, payload, ident, flags_fragment=0x4000, ttl=64):
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(payload), ident, flags_fragment, ttl,
                         proto, 0, src, dst)
    header = header[:10] + struct.pack("!H", checksum(header)) + header[12:]
    return header + payload


def ipv6(src, dst, next_header, payload, hop_limit=64):
    return struct.pack("!IHBB", 6 << 28, len(payload), next_header, hop_limit) + src + dst + payload


def pseudo_header_v4(src, dst, proto, length):
    return src + dst + struct.pack("!BBH", 0, proto, length)


def pseudo_header_v6(src, dst, proto, length):
    return src + dst + struct.pack("!IxxxB", length, proto)


def with_checksum(segment, offset, pseudo):
    value = checksum(pseudo + segment)
    return segment[:offset] + struct.pack("!H", value) + segment[offset + 2:]


def tcp(src, dst, sport, dport, seq, ack, flags, payload, pseudo):
    segment = struct.pack("!HHIIBBHHH", sport, dport, seq, ack, 5 << 4, flags, 64240, 0, 0) + payload
    return with_checksum(segment, 16, pseudo(src, dst, PROTO_TCP, len(segment)))


def udp(src, dst, sport, dport, payload, pseudo):
    datagram = struct.pack("!HHHH", sport, dport, 8 + len(payload), 0) + payload
    return with_checksum(datagram, 6, pseudo(src, dst, PROTO_UDP, len(datagram)))


def icmp_echo(kind, ident, seq, payload):
    message = struct.pack("!BBHHH", kind, 0, 0, ident, seq) + payload
    return message[:2] + struct.pack("!H", checksum(message)) + message[4:]


def icmpv6(src, dst, kind, body):
    message = struct.pack("!BBH", kind, 0, 0) + body
    return with_checksum(message, 2, pseudo_header_v6(src, dst, PROTO_ICMPV6, len(message)))


def arp(op, sender_mac, sender_ip, target_mac, target_ip):
    return struct.pack("!HHBBH", 1, ETH_IPV4, 6, 4, op) + sender_mac + sender_ip + target_mac + target_ip


def filler(length, rng):
    return bytes(rng.randrange(256) for _ in range(length))


class Sample:
    def __init__(self):
        self.rng = random.Random(20240501)
        self.frames = []
        self.clock_us = 0
        self.ident = 0x1000

    def add(self, frame):
        self.clock_us += self.rng.randrange(50, 40000)
        self.frames.append((self.clock_us, frame))

    def next_ident(self):
        self.ident += 1
        return self.ident

    def arp_exchange(self, vlan=None):
        self.add(ethernet(MAC_BROADCAST, MAC_CLIENT, ETH_ARP,
                          arp(1, MAC_CLIENT, IP_CLIENT, b"\0" * 6, IP_SERVER), vlan))
        self.add(ethernet(MAC_CLIENT, MAC_SERVER, ETH_ARP,
                          arp(2, MAC_SERVER, IP_SERVER, MAC_CLIENT, IP_CLIENT), vlan))

    def ping(self, count, size):
        for seq in range(1, count + 1):
            data = filler(size, self.rng)
            for kind, src, dst, smac, dmac in ((8, IP_CLIENT, IP_REMOTE, MAC_CLIENT, MAC_ROUTER),
                                               (0, IP_REMOTE, IP_CLIENT, MAC_ROUTER, MAC_CLIENT)):
                packet = ipv4(src, dst, PROTO_ICMP, icmp_echo(kind, 0x4242, seq, data), self.next_ident())
                self.add(ethernet(dmac, smac, ETH_IPV4, packet))

    def udp_echo(self, count, vlan=None):
        for _ in range(count):
            port = self.rng.randrange(32768, 60999)
            body = filler(self.rng.randrange(20, 480), self.rng)
            for src, dst, smac, dmac, sport, dport in (
                    (IP_CLIENT, IP_SERVER, MAC_CLIENT, MAC_SERVER, port, 7),
                    (IP_SERVER, IP_CLIENT, MAC_SERVER, MAC_CLIENT, 7, port)):
                datagram = udp(src, dst, sport, dport, body, pseudo_header_v4)
                self.add(ethernet(dmac, smac, ETH_IPV4,
                                  ipv4(src, dst, PROTO_UDP, datagram, self.next_ident()), vlan))

    def tcp_session_v4(self, sport, response_bytes):
        self._tcp_session(sport, response_bytes, IP_CLIENT, IP_SERVER,
                          lambda s, d, seg: ipv4(s, d, PROTO_TCP, seg, self.next_ident()),
                          ETH_IPV4, pseudo_header_v4, mss=1460)

    def tcp_session_v6(self, sport, response_bytes):
        self._tcp_session(sport, response_bytes, IP6_CLIENT, IP6_SERVER,
                          lambda s, d, seg: ipv6(s, d, PROTO_TCP, seg),
                          ETH_IPV6, pseudo_header_v6, mss=1440)

    def _tcp_session(self, sport, response_bytes, client, server, network, ethertype, pseudo, mss):
        c_seq, s_seq = self.rng.getrandbits(32), self.rng.getrandbits(32)

        def send(from_client, flags, payload=b""):
            nonlocal c_seq, s_seq
            src, dst = (client, server) if from_client else (server, client)
            smac, dmac = (MAC_CLIENT, MAC_SERVER) if from_client else (MAC_SERVER, MAC_CLIENT)
            ports = (sport, 80) if from_client else (80, sport)
            seq, ack = (c_seq, s_seq) if from_client else (s_seq, c_seq)
            segment = tcp(src, dst, ports[0], ports[1], seq, ack if flags & TCP_ACK else 0, flags,
                          payload, pseudo)
            self.add(ethernet(dmac, smac, ethertype, network(src, dst, segment)))
            advance = len(payload) + (1 if flags & (TCP_SYN | TCP_FIN) else 0)
            if from_client:
                c_seq = (c_seq + advance) & 0xFFFFFFFF
            else:
                s_seq = (s_seq + advance) & 0xFFFFFFFF

        send(True, TCP_SYN)
        send(False, TCP_SYN | TCP_ACK)
        send(True, TCP_ACK)
        send(True, TCP_PSH | TCP_ACK, b"GET /sample HTTP/1.1\r\nHost: example\r\n\r\n")
        send(False, TCP_ACK)
        remaining = response_bytes
        while remaining > 0:
            chunk = min(mss, remaining)
            send(False, TCP_ACK | (TCP_PSH if chunk == remaining else 0), filler(chunk, self.rng))
            remaining -= chunk
            if remaining == 0 or self.rng.random() < 0.5:
                send(True, TCP_ACK)
        send(True, TCP_FIN | TCP_ACK)
        send(False, TCP_FIN | TCP_ACK)
        send(True, TCP_ACK)

    def tcp_refused(self, dport):
        segment = tcp(IP_CLIENT, IP_SERVER, 40000 + dport, dport, 1, 0, TCP_SYN, b"", pseudo_header_v4)
        self.add(ethernet(MAC_SERVER, MAC_CLIENT, ETH_IPV4,
                          ipv4(IP_CLIENT, IP_SERVER, PROTO_TCP, segment, self.next_ident())))
        segment = tcp(IP_SERVER, IP_CLIENT, dport, 40000 + dport, 0, 2, TCP_RST | TCP_ACK, b"",
                      pseudo_header_v4)
        self.add(ethernet(MAC_CLIENT, MAC_SERVER, ETH_IPV4,
                          ipv4(IP_SERVER, IP_CLIENT, PROTO_TCP, segment, self.next_ident())))

    def udp_v6(self, count):
        for _ in range(count):
            body = filler(self.rng.randrange(10, 1200), self.rng)
            datagram = udp(IP6_CLIENT, IP6_SERVER, 40009, 9, body, pseudo_header_v6)
            self.add(ethernet(MAC_SERVER, MAC_CLIENT, ETH_IPV6,
                              ipv6(IP6_CLIENT, IP6_SERVER, PROTO_UDP, datagram)))

    def ping_v6(self, count):
        for seq in range(1, count + 1):
            data = filler(56, self.rng)
            for kind, src, dst, smac, dmac in ((128, IP6_CLIENT, IP6_SERVER, MAC_CLIENT, MAC_SERVER),
                                               (129, IP6_SERVER, IP6_CLIENT, MAC_SERVER, MAC_CLIENT)):
                body = struct.pack("!HH", 0x7777, seq) + data
                self.add(ethernet(dmac, smac, ETH_IPV6,
                                  ipv6(src, dst, PROTO_ICMPV6, icmpv6(src, dst, kind, body))))

    def router_advertisement(self):
        body = struct.pack("!BBHII", 64, 0, 1800, 0, 0)
        self.add(ethernet(MAC_V6_ALL_NODES, MAC_ROUTER, ETH_IPV6,
                          ipv6(bytes.fromhex("fe80000000000000000000fffe0000fe"), IP6_ALL_NODES,
                               PROTO_ICMPV6, icmpv6(bytes.fromhex("fe80000000000000000000fffe0000fe"),
                                                    IP6_ALL_NODES, 134, body), hop_limit=255)))

    def fragmented_udp(self):
        body = filler(2000, self.rng)
        datagram = udp(IP_CLIENT, IP_REMOTE, 7000, 7001, body, pseudo_header_v4)
        ident = self.next_ident()
        first, rest = datagram[:1480], datagram[1480:]
        self.add(ethernet(MAC_ROUTER, MAC_CLIENT, ETH_IPV4,
                          ipv4(IP_CLIENT, IP_REMOTE, PROTO_UDP, first, ident, flags_fragment=0x2000)))
        self.add(ethernet(MAC_ROUTER, MAC_CLIENT, ETH_IPV4,
                          ipv4(IP_CLIENT, IP_REMOTE, PROTO_UDP, rest, ident, flags_fragment=1480 // 8)))

    def experimental(self):
        self.add(ethernet(MAC_BROADCAST, MAC_ROUTER, ETH_EXPERIMENTAL, filler(40, self.rng)))


def build():
    sample = Sample()
    sample.arp_exchange()
    sample.ping(4, 56)
    sample.udp_echo(6)
    sample.tcp_session_v4(51000, 12000)
    sample.router_advertisement()
    sample.ping_v6(3)
    sample.arp_exchange(vlan=10)
    sample.udp_echo(4, vlan=10)
    sample.tcp_refused(8080)
    sample.udp_v6(8)
    sample.tcp_session_v6(52000, 9000)
    sample.fragmented_udp()
    sample.experimental()
    sample.ping(3, 1472)
    sample.tcp_session_v4(51001, 40000)
    sample.udp_echo(20)
    sample.tcp_session_v6(52001, 20000)
    sample.arp_exchange()
    sample.ping(10, 200)
    sample.experimental()
    return sample.frames


def write_savefile(path, frames):
    with open(path, "wb") as out:
        out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, SNAPLEN, LINKTYPE_ETHERNET))
        for clock_us, frame in frames:
            seconds, micros = divmod(clock_us, 1_000_000)
            out.write(struct.pack("<IIII", START_SECONDS + seconds, micros, len(frame), len(frame)))
            out.write(frame)


def main():
    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(repo, "data", "sample.pcap")
    frames = build()
    assert max(len(f) for _, f in frames) <= 1514
    write_savefile(path, frames)
    print("%s: %d frames" % (path, len(frames)))


if __name__ == "__main__":
    main()
