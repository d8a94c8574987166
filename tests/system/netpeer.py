#!/usr/bin/env python3
"""A fake peer that speaks the alarm network's line protocol, for tests and for load.

  netpeer.py station --server IP --bind IP [--name N] [--control FIFO]
      One station: uplink from IP to the server's port 10161, listener on IP:10162 for the downlink,
      announces IP (003) and registers (001). Prints "UP", "DOWN", "RECV <line>" (downlink lines),
      "CLOSED up|down". Commands (control FIFO or stdin, one a line): "send <text>" (uplink, CR LF added),
      "raw <hex>" (uplink bytes as given), "register", "close", "connect", "reconnect", "quit".
  netpeer.py server --bind IP
      A server: listens on IP:10161, prints "ACCEPT <peer>", "RECV <peer> <line>", connects back on 003,
      answers 001 with 002 to all. Commands: "send <text>" / "raw <hex>" to every downlink, "quit".
  netpeer.py bench --server IP --stations N --alarms K [--net 127.1]
      N stations on 127.1.x.y, K alarms from the first; prints the time from each 004 written to the last
      005 received, median and 99th percentile.
  netpeer.py flood --server IP --bind IP [--rate MB/s] [--reconnect S] [--name-length N] [--seconds S]
      A broken or hostile device: sends protocol-looking lines of codes the server does not act on, binary
      bytes and over-long lines as fast as the rate allows (after one registration with a long name when
      --name-length is given), reconnecting every S seconds and when the server cuts it off (--reconnect 0:
      never). Prints "UP", "CLOSED <bytes sent>" when the server ended the connection, "SENT <bytes>".
  netpeer.py alarms --server IP (--stations N [--net 127.1] | --bind IP,IP...) --interval S --seconds S
      N well-behaved stations that take turns raising an alarm every S seconds; prints how many alarms
      reached every station and the time from the 004 to the last 005.
Only ever talks to the addresses it is given; the tests give loopback or namespace addresses.
"""
import argparse
import os
import random
import selectors
import socket
import statistics
import sys
import time

SERVER_PORT = int(os.environ.get("TV_SERVER_PORT", "10161"))
STATION_PORT = int(os.environ.get("TV_STATION_PORT", "10162"))


def out(*parts):
    print(*parts, flush=True)


class Framer:
    """Lines end with CR; an LF right after it belongs to the terminator."""

    def __init__(self):
        self.buf = b""

    def feed(self, data):
        self.buf += data
        lines = []
        while True:
            i = self.buf.find(b"\r")
            if i < 0:
                return lines
            lines.append(self.buf[:i])
            self.buf = self.buf[i + 1:]
            if self.buf.startswith(b"\n"):
                self.buf = self.buf[1:]


class Loop:
    def __init__(self):
        self.sel = selectors.DefaultSelector()
        self.running = True

    def add(self, sock, handler):
        sock.setblocking(False)
        self.sel.register(sock, selectors.EVENT_READ, handler)

    def remove(self, sock):
        try:
            self.sel.unregister(sock)
        except (KeyError, ValueError):
            pass
        sock.close()

    def run_once(self, timeout):
        for key, _ in self.sel.select(timeout):
            key.data(key.fileobj)

    def run(self):
        while self.running:
            self.run_once(0.5)


def listener(addr, port):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((addr, port))
    s.listen(1024)
    return s


def decode(b):
    return b.decode("cp1252", errors="replace")


class Station:
    """A station: uplink out, downlink in."""

    def __init__(self, loop, server, addr, name, quiet=False, on_line=None):
        self.loop, self.server, self.addr, self.name = loop, server, addr, name
        self.quiet, self.on_line = quiet, on_line
        self.up = None
        self.downs = {}
        self.lst = listener(addr, STATION_PORT)
        loop.add(self.lst, self._accept)

    def log(self, *parts):
        if not self.quiet:
            out(*parts)

    def connect(self):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.bind((self.addr, 0))
        s.settimeout(5)
        s.connect((self.server, SERVER_PORT))
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.up = s
        self.loop.add(s, self._uplink_read)
        self.log("UP")

    def _uplink_read(self, s):
        try:
            data = s.recv(65536)
        except OSError:
            data = b""
        if not data:
            self.loop.remove(s)
            if self.up is s:
                self.up = None
            self.log("CLOSED up")

    def _accept(self, lst):
        c, _ = lst.accept()
        self.downs[c] = Framer()
        self.loop.add(c, self._down_read)
        self.log("DOWN")

    def _down_read(self, c):
        try:
            data = c.recv(65536)
        except OSError:
            data = b""
        if not data:
            self.loop.remove(c)
            self.downs.pop(c, None)
            self.log("CLOSED down")
            return
        for line in self.downs[c].feed(data):
            if self.on_line:
                self.on_line(self, line)
            self.log("RECV " + decode(line))

    def send_raw(self, data):
        if self.up is None:
            self.log("NOUPLINK")
            return
        self.up.setblocking(True)
        self.up.sendall(data)
        self.up.setblocking(False)

    def send(self, text):
        self.send_raw(text.encode("cp1252") + b"\r\n")

    def announce_and_register(self, vis="1", ak="0"):
        self.send("003: " + self.addr)
        self.send("001: |%s|%s|%s" % (self.name, vis, ak))


def control(loop, path, handle):
    """Commands from a FIFO (kept open for writing by ourselves so that it never reports EOF) or stdin."""
    if path:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
        keep = os.open(path, os.O_WRONLY)
        f = os.fdopen(fd, "rb", buffering=0)
        f._keep = keep
    else:
        f = sys.stdin.buffer.raw
    buf = [b""]

    def read(fobj):
        data = os.read(fobj.fileno(), 65536)
        if not data:
            loop.running = False
            return
        buf[0] += data
        while b"\n" in buf[0]:
            line, buf[0] = buf[0].split(b"\n", 1)
            handle(line.decode("utf-8"))

    loop.sel.register(f, selectors.EVENT_READ, read)


def run_station(a):
    loop = Loop()
    st = Station(loop, a.server, a.bind, a.name)

    def handle(cmd):
        verb, _, arg = cmd.partition(" ")
        if verb == "send":
            st.send(arg)
        elif verb == "raw":
            st.send_raw(bytes.fromhex(arg))
        elif verb == "register":
            st.announce_and_register(a.vis, a.ak)
        elif verb == "close" and st.up is not None:
            loop.remove(st.up)
            st.up = None
        elif verb == "connect":
            st.connect()
        elif verb == "reconnect":
            st.connect()
            st.announce_and_register(a.vis, a.ak)
        elif verb == "quit":
            loop.running = False
        out("DONE " + verb)

    control(loop, a.control, handle)
    if not a.no_connect:
        st.connect()
        st.announce_and_register(a.vis, a.ak)
    loop.run()


def run_server(a):
    loop = Loop()
    downs = []
    lst = listener(a.bind, SERVER_PORT)
    framers = {}

    def send_all(data):
        for d in list(downs):
            try:
                d.sendall(data)
            except OSError:
                downs.remove(d)

    def up_read(c):
        try:
            data = c.recv(65536)
        except OSError:
            data = b""
        peer = framers[c][1]
        if not data:
            loop.remove(c)
            out("CLOSED " + peer)
            return
        for line in framers[c][0].feed(data):
            text = decode(line)
            out("RECV %s %s" % (peer, text))
            if text.startswith("003:"):
                d = socket.create_connection((text[4:].strip(), STATION_PORT), timeout=5)
                downs.append(d)
                out("DOWNLINK " + text[4:].strip())
            elif text.startswith("001:"):
                send_all(b"002: fake\r\n")

    def accept(s):
        c, (peer, _) = s.accept()
        framers[c] = (Framer(), peer)
        loop.add(c, up_read)
        out("ACCEPT " + peer)

    loop.add(lst, accept)

    def handle(cmd):
        verb, _, arg = cmd.partition(" ")
        if verb == "send":
            send_all(arg.encode("cp1252") + b"\r\n")
        elif verb == "raw":
            send_all(bytes.fromhex(arg))
        elif verb == "quit":
            loop.running = False
        out("DONE " + verb)

    control(loop, a.control, handle)
    loop.run()


def run_bench(a):
    loop = Loop()
    got = {}
    target = [None]

    def on_line(st, line):
        if line.startswith(target[0] or b"\0"):
            got[st.addr] = time.perf_counter()

    prefix = a.net.split(".")
    stations = []
    for i in range(a.stations):
        addr = "%s.%s.%d.%d" % (prefix[0], prefix[1], 1 + i // 250, 1 + i % 250)
        stations.append(Station(loop, a.server, addr, "Bench%04d" % i, quiet=True, on_line=on_line))
    # Only the sender registers: every 001 makes the server answer all stations, which at this size would
    # measure the registration storm rather than the relay.
    for st in stations:
        st.connect()
        st.send("003: " + st.addr)
    stations[0].send("001: |%s|1|0" % stations[0].name)
    deadline = time.time() + 60
    while time.time() < deadline and sum(len(s.downs) for s in stations) < a.stations:
        loop.run_once(0.1)
    ready = sum(1 for s in stations if s.downs)
    out("# stations with a downlink: %d of %d" % (ready, a.stations))
    if ready < a.stations:
        sys.exit(1)
    loop.run_once(0.5)
    sender = stations[0]
    times = []
    firsts = []
    for k in range(a.alarms):
        code = b"004: " if k % 2 == 0 else b"008: "
        target[0] = b"005: " if k % 2 == 0 else b"009: "
        got.clear()
        t0 = time.perf_counter()
        sender.send_raw(code + b"\r\n")
        end = time.time() + 10
        while len(got) < a.stations and time.time() < end:
            loop.run_once(0.05)
        if len(got) < a.stations:
            out("# alarm %d: only %d of %d received" % (k, len(got), a.stations))
            sys.exit(1)
        times.append((max(got.values()) - t0) * 1000.0)
        firsts.append((min(got.values()) - t0) * 1000.0)
        time.sleep(0.05)
    times.sort()
    p99 = times[min(len(times) - 1, int(round(0.99 * (len(times) - 1))))]
    out("stations=%d alarms=%d median_ms=%.2f p99_ms=%.2f max_ms=%.2f first_median_ms=%.2f" %
        (a.stations, a.alarms, statistics.median(times), p99, times[-1], statistics.median(firsts)))


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
    s = sub.add_parser("station")
    s.add_argument("--server", required=True)
    s.add_argument("--bind", required=True)
    s.add_argument("--name", default="Fake")
    s.add_argument("--vis", default="1")
    s.add_argument("--ak", default="0")
    s.add_argument("--control")
    s.add_argument("--no-connect", action="store_true")
    v = sub.add_parser("server")
    v.add_argument("--bind", required=True)
    v.add_argument("--control")
    b = sub.add_parser("bench")
    b.add_argument("--server", required=True)
    b.add_argument("--stations", type=int, default=100)
    b.add_argument("--alarms", type=int, default=50)
    b.add_argument("--net", default="127.1")
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
    {"station": run_station, "server": run_server, "bench": run_bench, "flood": run_flood,
     "alarms": run_alarms}[a.mode](a)


if __name__ == "__main__":
    main()
