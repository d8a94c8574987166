#!/usr/bin/env python3
"""Load peers for the flood benchmark, on top of the system tests' fake peer (tests/system/netpeer.py).

  floodpeer.py flood --server IP --bind IP [--rate MB/s] [--reconnect S] [--name-length N] [--seconds S]
      A broken or hostile device: sends protocol-looking lines of codes the server does not act on, binary
      bytes and over-long lines as fast as the rate allows (after one registration with a long name when
      --name-length is given), reconnecting every S seconds and when the server cuts it off (--reconnect 0:
      never). Prints "UP", "CLOSED <bytes sent>" when the server ended the connection, "SENT <bytes>".
  floodpeer.py alarms --server IP (--stations N [--net 127.1] | --bind IP,IP...) --interval S --seconds S
      N well-behaved stations that take turns raising an alarm every S seconds; prints how many alarms
      reached every station and the time from the 004 to the last 005.
Only ever talks to the addresses it is given; the benchmark gives loopback addresses.
"""
import argparse
import os
import random
import socket
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "system"))
from netpeer import Loop, Station, decode, out, SERVER_PORT  # noqa: E402


def garbage(rng, size):
    """Lines a broken peer might send: codes the server never acts on, binary bytes, over-long lines."""
    accepted = {1, 3, 4, 6, 8, 10}
    parts = []
    total = 0
    while total < size:
        kind = rng.random()
        if kind < 0.7:
            code = rng.choice([c for c in range(1000) if c not in accepted][:40] + [rng.randrange(12, 1000)])
            payload = "|".join("".join(rng.choice("abcdefXYZ019 .") for _ in range(rng.randrange(0, 30)))
                               for _ in range(rng.randrange(0, 6)))
            chunk = ("%03d: %s\r\n" % (code, payload)).encode("cp1252")
        elif kind < 0.95:
            chunk = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 200))) + b"\r\n"
        else:
            chunk = bytes(rng.randrange(32, 127) for _ in range(5000)) + b"\r\n"
        parts.append(chunk)
        total += len(chunk)
    return b"".join(parts)


def run_flood(a):
    rng = random.Random(a.bind)
    block = garbage(rng, 1 << 20)
    rate = a.rate * 1e6
    sent = 0
    start = time.time()
    end = start + a.seconds if a.seconds > 0 else float("inf")
    while time.time() < end:
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.bind((a.bind, 0))
        try:
            s.connect((a.server, SERVER_PORT))
        except OSError:
            s.close()
            time.sleep(0.5)
            continue
        out("UP")
        s.settimeout(1)
        if a.name_length:
            s.sendall(("001: |%s|0|0\r\n" % ("N" * a.name_length)).encode())
        until = time.time() + (rng.uniform(0.5, 1.5) * a.reconnect if a.reconnect > 0 else float("inf"))
        closed = False
        pos = rng.randrange(len(block))
        while time.time() < min(until, end):
            n = 16384
            chunk = block[pos:pos + n] or block[:n]
            pos = (pos + len(chunk)) % len(block)
            try:
                s.sendall(chunk)
            except socket.timeout:
                continue
            except OSError:
                closed = True
                break
            sent += len(chunk)
            # Hold the rate on average over the whole run.
            ahead = sent / rate - (time.time() - start)
            if ahead > 0:
                time.sleep(ahead)
        s.close()
        if closed:
            out("CLOSED %d" % sent)
            if a.reconnect <= 0:
                break
    out("SENT %d" % sent)


def run_alarms(a):
    loop = Loop()
    prefix = a.net.split(".")
    stations = []
    got = {}  # (receiver, sender) -> arrival times of the sender's 005 lines, in order

    def on_line(st, line):
        if line.startswith(b"005: "):
            sender = decode(line[5:]).split("|")[0]
            got.setdefault((st.addr, sender), []).append(time.perf_counter())
            if a.verbose:
                out("# %.3f %s got %s" % (time.perf_counter(), st.addr, decode(line)[:60]))

    addrs = a.bind.split(",") if a.bind else ["%s.%s.%d.%d" % (prefix[0], prefix[1], 1 + i // 250, 1 + i % 250)
                                              for i in range(a.stations)]
    for i, addr in enumerate(addrs):
        stations.append(Station(loop, a.server, addr, "Platz%d" % (i + 1), quiet=True, on_line=on_line))
    for st in stations:
        st.connect()
        st.announce_and_register()
    deadline = time.time() + 30
    while time.time() < deadline and not all(st.downs for st in stations):
        loop.run_once(0.1)
    # A downlink counts once the server itself has it up: the 002 a registration causes reaches every station.
    replies = {}

    def on_any(st, line):
        if line.startswith(b"002: "):
            replies[st.addr] = replies.get(st.addr, 0) + 1
        on_line(st, line)

    for st in stations:
        st.on_line = on_any
    while time.time() < deadline:
        replies.clear()
        stations[-1].send("001: |%s|1|0" % stations[-1].name)
        wait = time.time() + 2
        while time.time() < wait and len(replies) < len(stations):
            loop.run_once(0.05)
        if len(replies) == len(stations):
            break
    if not all(st.downs for st in stations) or len(replies) < len(stations):
        out("# not every station has its downlink")
        sys.exit(1)
    sent = []  # (sender, time written)
    t_next = time.time()
    t_end = time.time() + a.seconds
    while time.time() < t_end:
        if time.time() >= t_next:
            st = stations[len(sent) % len(stations)]
            sent.append((st.addr, time.perf_counter()))
            st.send("004: ")
            if a.verbose:
                out("# %.3f %s sent 004" % (time.perf_counter(), st.addr))
            t_next += a.interval
        loop.run_once(0.01)
    # Late relays still count as relayed; a relay that never comes is a lost alarm.
    grace = time.time() + 10
    while time.time() < grace and any(len(got.get((r.addr, s.addr), [])) < sum(1 for x in sent if x[0] == s.addr)
                                      for r in stations for s in stations):
        loop.run_once(0.05)
    lat = []
    ok = 0
    nth = {}
    for sender, t0 in sent:
        k = nth.get(sender, 0)
        nth[sender] = k + 1
        arrivals = [got.get((r.addr, sender), []) for r in stations]
        if all(len(x) > k for x in arrivals):
            ok += 1
            lat.append((max(x[k] for x in arrivals) - t0) * 1000.0)
            if a.verbose:
                out("# alarm from %s at %.1f s: %.1f ms" % (sender, t0 - sent[0][1], lat[-1]))
        elif a.verbose:
            out("# alarm from %s at %.1f s: not relayed to every station" % (sender, t0 - sent[0][1]))
    lat.sort()
    out("relays_ok=%d/%d median_ms=%.1f worst_ms=%.1f over_3s=%d" %
        (ok, len(sent), statistics.median(lat) if lat else -1, lat[-1] if lat else -1,
         sum(1 for x in lat if x > 3000)))


def main():
    p = argparse.ArgumentParser()
    sub = p.add_subparsers(dest="mode", required=True)
    f = sub.add_parser("flood")
    f.add_argument("--server", required=True)
    f.add_argument("--bind", required=True)
    f.add_argument("--rate", type=float, default=1.0)
    f.add_argument("--reconnect", type=float, default=0)
    f.add_argument("--name-length", type=int, default=0)
    f.add_argument("--seconds", type=float, default=0)
    f.add_argument("--control")
    m = sub.add_parser("alarms")
    m.add_argument("--server", required=True)
    m.add_argument("--stations", type=int, default=2)
    m.add_argument("--interval", type=float, default=2.0)
    m.add_argument("--seconds", type=float, default=60)
    m.add_argument("--net", default="127.1")
    m.add_argument("--bind")
    m.add_argument("--verbose", action="store_true")
    m.add_argument("--control")
    a = p.parse_args()
    {"flood": run_flood, "alarms": run_alarms}[a.mode](a)


if __name__ == "__main__":
    main()
