#!/usr/bin/env python3
"""A fake peer of the alarm network's line protocol, for tests and load.

  netpeer.py station --server IP --bind IP [--name N] [--record FILE]: uplink from IP, listener on IP:10162,
      announces (003) and registers (001); prints UP, DOWN, "RECV <downlink line>", "CLOSED up|down".
      --record FILE: downlink bytes to FILE, uplink bytes to FILE.up.
Commands (--control FIFO, one a line): "send <text>" (uplink, CR LF added), "quit"; each answered
"DONE <verb>". Talks only to the addresses it is given.
"""
import argparse
import os
import selectors
import socket

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


def recv(sock):
    try:
        return sock.recv(65536)
    except OSError:
        return b""


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
        data = recv(s)
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
        data = recv(c)
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

    def send(self, text):
        if self.up is None:
            return self.log("NOUPLINK")
        self.up.setblocking(True)
        self.up.sendall(text.encode("cp1252") + b"\r\n")
        self.up.setblocking(False)

    def announce_and_register(self, vis="1", ak="0"):
        self.send("003: " + self.addr)
        self.send("001: |%s|%s|%s" % (self.name, vis, ak))


def control(loop, path, send):
    """Commands from the FIFO, which we keep open for writing ourselves so that it never reports EOF."""
    f = os.fdopen(os.open(path, os.O_RDONLY | os.O_NONBLOCK), "rb", buffering=0)
    f._keep = os.open(path, os.O_WRONLY)
    buf = [b""]

    def read(fobj):
        buf[0] += os.read(fobj.fileno(), 65536)
        while b"\n" in buf[0]:
            line, buf[0] = buf[0].split(b"\n", 1)
            verb, _, arg = line.decode("utf-8").partition(" ")
            if verb == "send":
                send(arg)
            elif verb == "quit":
                loop.running = False
            out("DONE " + verb)

    loop.sel.register(f, selectors.EVENT_READ, read)


def run_station(a):
    loop = Loop()
    st = Station(loop, a.server, a.bind, a.name, record=a.record)
    control(loop, a.control, st.send)
    st.connect()
    st.announce_and_register(a.vis, a.ak)
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
    s.add_argument("--record")
    a = p.parse_args()
    run_station(a)


if __name__ == "__main__":
    main()
