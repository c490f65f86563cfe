#!/usr/bin/env python3
"""Writes crafted.pcap: frames made by hand for the decoder's golden tests.

Frame N of the file is row N of FRAMES. Each row: captured bytes as hex
(blanks ignored) and the wire length; the capture may hold fewer bytes than
the wire had, to test frames cut short. Append new frames at the end only, so
that the frame numbers in TESTLIST stay valid.
"""
import os
import struct

ETH = "001122334455 66778899aabb"  # destination, source


def pad(hexstr, size=60):
    raw = bytes.fromhex(hexstr)
    return raw + bytes(max(0, size - len(raw)))


FRAMES = [
    # 1: IPv4 TCP, all eight flags set, sequence number 0x80000000
    (pad(ETH + "0800 4500 0028 0001 0000 40 06 0000 c0a80101 c0a80102"
               "0401 0050 80000000 00000001 50 ff 0200 1234 0000"), 60),
    # 2: IPv4 UDP from 68 to 67: the UDP wording of DHCP
    (pad(ETH + "0800 4500 0148 0000 0000 80 11 39a6 00000000 ffffffff"
               "0044 0043 0134 1f2e"), 342),
    # 3: IPv4 TCP from 68 to 67: the TCP wording of DHCP
    (pad(ETH + "0800 4500 0028 0000 4000 40 06 0000 0a000001 0a000002"
               "0044 0043 00000000 00000000 50 02 1000 0000 0000"), 60),
    # 4: IPv4 TCP from 21 to 80: the first row of the table wins
    (pad(ETH + "0800 4500 0028 0000 4000 40 06 0000 0a000001 0a000002"
               "0015 0050 00000001 00000000 50 10 1000 0000 0000"), 60),
    # 5: ARP operation 3: no Operation node, no summary
    (pad(ETH + "0806 0001 0800 06 04 0003 66778899aabb 0a000001 000000000000 0a000002"), 60),
    # 6: IPv6 with next header 0 (hop-by-hop options)
    (pad(ETH + "86dd 60000000 0008 00 01 fe800000000000000000000000000001"
               "ff020000000000000000000000000016 3a000502000001000000", 80), 80),
    # 7: IPv6 6A BC DE F1, all-zero addresses, TCP to port 443
    (pad(ETH + "86dd 6abcdef1 0014 06 40 00000000000000000000000000000000"
               "00000000000000000000000000000000"
               "c000 01bb 00000001 00000002 50 18 ffff abcd 0000", 74), 74),
    # 8: IEEE 802.3 with SSAP FF: " LSAP" without parentheses
    (pad(ETH + "0026 ff ff 03"), 60),
    # 9: IEEE 802.3 spanning tree, a topology change BPDU: no difference in the tree
    (pad(ETH + "0007 42 42 03 0000 00 80"), 60),
    # 10: IPX RIP to socket 0453 from socket 4001: both carry " (IPX RIP)"
    (pad(ETH + "0028 e0 e0 03 ffff 0028 00 01 00000000 ffffffffffff 0453"
               "00000001 66778899aabb 4001"), 60),
    # 11: an Ethernet II type the tree does not know: " (?]" and "Data"
    (pad(ETH + "88cc 0207 04 66778899aabb"), 60),
    # 12: 60 bytes of every byte value from 0x20: a dump of four lines
    (bytes(range(0x20, 0x20 + 60)), 60),
    # 13: nothing captured: the dump is one empty line
    (b"", 60),
    # 14: 13 bytes: the framing is unknown
    (bytes.fromhex(ETH + "08"), 60),
    # 15: IPv4 TCP cut at 40 bytes by the snapshot length
    (pad(ETH + "0800 4500 0028 0000 4000 40 06 0000 0a000001 0a000002"
               "0400 0050 00000001 00000000 50 10 1000 0000 0000")[:40], 60),
    # 16: IEEE 802.3 cut after the DSAP
    (bytes.fromhex(ETH + "0026 aa"), 60),
    # 17: DEC spanning tree hello
    (pad(ETH + "8038 e1 19"), 60),
    # 18: SNAP with an organization code other than Cisco's
    (pad(ETH + "0026 aa aa 03 0080c2 0007"), 60),
    # 19: NetBIOS with a command of no name
    (pad(ETH + "0026 f0 f0 03 002c efff 1e"), 60),
    # 20: IPv4 with 4 bytes of options: the tree still reads TCP at byte 34
    (pad(ETH + "0800 4600 002c 0000 4000 40 06 0000 0a000001 0a000002"
               "94040000 0400 0050 00000001 00000000 50 10 1000 0000 0000"), 60),
    # 21: IPv6 cut inside the destination address
    (pad(ETH + "86dd 60000000 0008 11 01 fe800000000000000000000000000001"
               "ff0200000000", 46), 70),
    # 22: 17 bytes: the dump's second line holds one byte
    (bytes.fromhex(ETH + "0003 f0 f0 03"), 60),
]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "crafted.pcap"), "wb") as out:
        # pcap file header: microsecond time stamps, Ethernet
        out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
        for n, (data, wire) in enumerate(FRAMES, start=1):
            usec = 0 if n % 2 else 1000 * n  # both time forms: blanks and digits
            out.write(struct.pack("<IIII", 1000000000 + n, usec, len(data), wire))
            out.write(data)


if __name__ == "__main__":
    main()
