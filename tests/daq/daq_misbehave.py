#!/usr/bin/env python3
"""Clients that misbehave towards the DAQ server, for its tests.

usage: daq_misbehave.py PORT CASE; prints one result line.
  huge     a head announcing 0xFFFFFFFF bytes: "closed MS" or "open"
  toolong  a head announcing 12 + 256 bytes: "closed MS" or "open"
  short    a head announcing 11 bytes: "closed MS" or "open"
  midway   a head for a 15-byte request, 5 bytes of it, then goes: "gone"
  abandon  a run's collect request, then goes without reading: "gone"
  trickle  a head one byte every 200 ms: "closed after N bytes"
"""
import socket
import struct
import sys
import time


def head(length, request_id=1):
    return struct.pack(">HHII", 0x5555, request_id, length, 0)


def closed_within(sock, seconds):
    sock.settimeout(seconds)
    start = time.monotonic()
    try:
        data = sock.recv(1)
    except socket.timeout:
        return None
    except ConnectionResetError:
        data = b""
    if data:
        return None
    return int((time.monotonic() - start) * 1000)


def main():
    port, case = int(sys.argv[1]), sys.argv[2]
    sock = socket.create_connection(("127.0.0.1", port), timeout=5)
    if case in ("huge", "toolong", "short"):
        length = {"huge": 0xFFFFFFFF, "toolong": 12 + 256, "short": 11}[case]
        sock.sendall(head(length))
        ms = closed_within(sock, 3)
        print("open" if ms is None else "closed %d" % ms)
    elif case == "midway":
        sock.sendall(head(12 + 15) + bytes([0xC3, 0, 0, 0, 10]))
        sock.close()
        print("gone")
    elif case == "abandon":
        sock.sendall(head(13, 9) + bytes([0xC0]))
        sock.close()
        print("gone")
    elif case == "trickle":
        sent = 0
        try:
            for b in head(13):
                sock.sendall(bytes([b]))
                sent += 1
                time.sleep(0.2)
            ms = closed_within(sock, 3)
            print("open" if ms is None else "closed after %d bytes" % sent)
        except (BrokenPipeError, ConnectionResetError):
            print("closed after %d bytes" % sent)
    else:
        sys.exit("unknown case " + case)


if __name__ == "__main__":
    main()
