#!/usr/bin/env python3
"""A fake peer that speaks the alarm network's line protocol, for tests and for load.

  netpeer.py station --server IP --bind IP [--name N] [--control FIFO]
      One station: uplink from IP to the server's port 10161, listener on IP:10162 for the downlink,
      announces IP (003) and registers (001). Prints "UP", "DOWN", "RECV <line>" (downlink lines),
      "CLOSED up|down". Commands (control FIFO or stdin, one a line): "send <text>" (uplink, CR LF added),
      "raw <hex>" (uplink bytes as given), "register", "close", "connect", "reconnect", "quit".
      --record FILE: every byte received on the downlink goes to FILE, every byte on the uplink to FILE.up.
  netpeer.py server --bind IP
      A server of today's protocol: listens on IP:10161, prints "ACCEPT <peer>", "RECV <peer> <line>",
      connects back on 003, answers 001 with 002 to all, prints what comes back on a downlink as
      "DOWNRECV <line>" and otherwise ignores it. Commands: "send <text>" / "raw <hex>" to every downlink,
      "quit".
Only ever talks to the addresses it is given; the tests give loopback or namespace addresses.
"""
import argparse
import os
import selectors
import socket
import sys

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

    def __init__(self, loop, server, addr, name, quiet=False, on_line=None, record=None):
        self.loop, self.server, self.addr, self.name = loop, server, addr, name
        self.quiet, self.on_line, self.record = quiet, on_line, record
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
        self._record(".up", data)
        if not data:
            self.loop.remove(s)
            if self.up is s:
                self.up = None
            self.log("CLOSED up")

    def _record(self, suffix, data):
        if self.record and data:
            with open(self.record + suffix, "ab") as f:
                f.write(data)

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
        self._record("", data)
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
    st = Station(loop, a.server, a.bind, a.name, record=a.record)

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
                framers[d] = (Framer(), text[4:].strip())
                loop.add(d, down_read)
                out("DOWNLINK " + text[4:].strip())
            elif text.startswith("001:"):
                send_all(b"002: fake\r\n")

    def down_read(d):
        try:
            data = d.recv(65536)
        except OSError:
            data = b""
        if not data:
            loop.remove(d)
            if d in downs:
                downs.remove(d)
            return
        for line in framers[d][0].feed(data):
            out("DOWNRECV " + decode(line))

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
    s.add_argument("--record")
    v = sub.add_parser("server")
    v.add_argument("--bind", required=True)
    v.add_argument("--control")
    a = p.parse_args()
    {"station": run_station, "server": run_server}[a.mode](a)


if __name__ == "__main__":
    main()
