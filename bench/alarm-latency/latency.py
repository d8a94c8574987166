#!/usr/bin/env python3
"""Alarm latency between real stations, measured from the outside: nothing in the program is instrumented.

All clocks are CLOCK_REALTIME of this one machine:
  key     the XTest key press at A's display (taken right before the request is flushed),
  wire    kernel receive timestamps (SO_TIMESTAMPNS) of the protocol lines on the virtual switch that joins
          the stations' network namespaces: 004 from A, 005 from the server to B and to C,
  mapped  the MapNotify on B's and C's root window of the receiver window's frame, read by a watcher that
          blocks on the X connection.

Modes (run.sh sets up the stations and calls `drive`):
  watch CAPTION      on $DISPLAY: prints "MAP <ns> <id>" / "GONE <ns> <id>" for top-level windows showing CAPTION
  sniff              in the switch namespace: prints "PKT <ns> <src> <dst> <first line>" for protocol lines
  drive ...          presses the keys at A, collects both streams and prints the figures
"""
import argparse
import ctypes
import queue
import select
import socket
import statistics
import struct
import subprocess
import sys
import threading
import time

# --- Xlib through ctypes (no python modules beyond the standard library) --------------------------------

MAP_NOTIFY, UNMAP_NOTIFY, DESTROY_NOTIFY = 19, 18, 17
ASK_LATER_NS = 50_000_000
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19


def xlib():
    x = ctypes.CDLL("libX11.so.6")
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XDefaultRootWindow.restype = ctypes.c_ulong
    x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
    x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
    x.XPending.argtypes = [ctypes.c_void_p]
    x.XConnectionNumber.argtypes = [ctypes.c_void_p]
    x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x.XFlush.argtypes = [ctypes.c_void_p]
    x.XInternAtom.restype = ctypes.c_ulong
    x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                             ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                             ctypes.POINTER(ctypes.c_uint)]
    x.XGetWindowProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long, ctypes.c_long,
                                     ctypes.c_int, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                     ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong),
                                     ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p)]
    x.XFree.argtypes = [ctypes.c_void_p]
    x.XSetErrorHandler.restype = ctypes.c_void_p
    x.XStringToKeysym.restype = ctypes.c_ulong
    x.XStringToKeysym.argtypes = [ctypes.c_char_p]
    x.XKeysymToKeycode.restype = ctypes.c_ubyte
    x.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    return x


# A window can vanish between its MapNotify and our questions about it: ignore the X errors that follow.
ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda d, e: 0)


def window_name(x, d, w, atoms):
    for prop in atoms:
        kind, fmt = ctypes.c_ulong(), ctypes.c_int()
        n, after, data = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
        if x.XGetWindowProperty(d, w, prop, 0, 256, 0, 0, ctypes.byref(kind), ctypes.byref(fmt), ctypes.byref(n),
                                ctypes.byref(after), ctypes.byref(data)) == 0 and data.value:
            text = ctypes.string_at(data.value, n.value) if fmt.value == 8 else b""
            x.XFree(data)
            if text:
                return text.decode("utf-8", "replace")
    return ""


def shows_caption(x, d, w, caption, atoms, depth=0):
    """True when w or a window up to three levels below it (the client inside the WM's frame) has the caption."""
    if window_name(x, d, w, atoms) == caption:
        return True
    if depth >= 3:
        return False
    root, parent = ctypes.c_ulong(), ctypes.c_ulong()
    children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
    if not x.XQueryTree(d, w, ctypes.byref(root), ctypes.byref(parent), ctypes.byref(children), ctypes.byref(count)):
        return False
    kids = [children[i] for i in range(count.value)]
    if children:
        x.XFree(children)
    return any(shows_caption(x, d, k, caption, atoms, depth + 1) for k in kids)


def watch(caption):
    x = xlib()
    d = x.XOpenDisplay(None)
    if not d:
        sys.exit("cannot open display")
    x.XSetErrorHandler(ERROR_HANDLER)
    atoms = [x.XInternAtom(d, b"_NET_WM_NAME", 0), x.XInternAtom(d, b"WM_NAME", 0)]
    root = x.XDefaultRootWindow(d)
    x.XSelectInput(d, root, SUBSTRUCTURE_NOTIFY_MASK)
    x.XSync(d, 0)
    print("READY", flush=True)
    fd = x.XConnectionNumber(d)
    ev = (ctypes.c_long * 24)()
    shown = set()
    # Maps wait a moment before we ask which window they were: the questions cost the X server and this
    # machine time that the other station's window, still on its way, would otherwise miss.
    pending = {}

    def resolve(windows):
        for w in windows:
            stamp = pending.pop(w)
            if shows_caption(x, d, w, caption, atoms):
                shown.add(w)
                print("MAP %d %d" % (stamp, w), flush=True)

    while True:
        if not x.XPending(d):
            wait = None
            if pending:
                wait = max(0, min(pending.values()) + ASK_LATER_NS - time.time_ns()) / 1e9
            if not select.select([fd], [], [], wait)[0]:
                resolve([w for w, t in list(pending.items()) if time.time_ns() - t >= ASK_LATER_NS])
                continue
        # The time the event came in; an event queued behind another gets the time it was taken from the
        # queue, which can only make a figure larger, never smaller.
        now = time.time_ns()
        x.XNextEvent(d, ev)
        kind, window = ev[0] & 0xFFFFFFFF, ev[5] & 0xFFFFFFFFFFFFFFFF
        if kind == MAP_NOTIFY and window not in shown:
            pending[window] = now
        elif kind in (UNMAP_NOTIFY, DESTROY_NOTIFY):
            if window in pending:
                resolve([window])
            if window in shown:
                shown.discard(window)
                print("GONE %d %d" % (now, window), flush=True)


# --- the virtual switch ------------------------------------------------------------------------------------

SO_TIMESTAMPNS = 35


def sniff():
    s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(3))  # ETH_P_ALL
    s.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
    print("READY", flush=True)
    seen = set()
    while True:
        frame, anc, _, _ = s.recvmsg(65536, socket.CMSG_SPACE(16))
        if len(frame) < 34 or frame[12:14] != b"\x08\x00" or frame[23] != 6:
            continue
        ihl = (frame[14] & 0x0F) * 4
        tcp = 14 + ihl
        src, dst = socket.inet_ntoa(frame[26:30]), socket.inet_ntoa(frame[30:34])
        sport, dport, seq = struct.unpack("!HHI", frame[tcp:tcp + 8])
        payload = frame[tcp + (frame[tcp + 12] >> 4) * 4:]
        if len(payload) < 4 or payload[3:4] != b":":
            continue
        # Every frame crosses the switch twice (in at one port, out at another): the first copy counts.
        key = (src, sport, dst, dport, seq)
        if key in seen:
            continue
        seen.add(key)
        stamp = next((struct.unpack("ll", data[:16]) for level, kind, data in anc
                      if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS), None)
        ns = stamp[0] * 1_000_000_000 + stamp[1] if stamp else time.time_ns()
        line = payload.split(b"\r\n")[0].decode("cp1252", "replace")
        print("PKT %d %s %s %s" % (ns, src, dst, line.replace(" ", "_")), flush=True)


# --- the driver ------------------------------------------------------------------------------------------


class Streams:
    """Lines of the helper processes, tagged with their source, in one queue."""

    def __init__(self):
        self.q = queue.Queue()
        self.procs = []

    def start(self, tag, argv, env=None):
        p = subprocess.Popen(argv, stdout=subprocess.PIPE, text=True, env=env)
        self.procs.append(p)
        threading.Thread(target=self._pump, args=(tag, p), daemon=True).start()

    def _pump(self, tag, p):
        for line in p.stdout:
            self.q.put((tag, line.split()))

    def stop(self):
        for p in self.procs:
            p.terminate()
        for p in self.procs:
            p.wait(timeout=5)


class Keyboard:
    def __init__(self, display):
        self.x = xlib()
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.d = self.x.XOpenDisplay(display.encode())
        if not self.d:
            sys.exit("cannot open display %s" % display)

    def press(self, name):
        """Presses and releases the key; returns the time the press went to the X server."""
        code = self.x.XKeysymToKeycode(self.d, self.x.XStringToKeysym(name.encode()))
        self.xtst.XTestFakeKeyEvent(self.d, code, 1, 0)
        t = time.time_ns()
        self.x.XFlush(self.d)
        self.xtst.XTestFakeKeyEvent(self.d, code, 0, 0)
        self.x.XSync(self.d, 0)
        return t


def wait_for(streams, events, want, timeout):
    """Collects lines into `events` until want(events) is true; false on timeout."""
    deadline = time.monotonic() + timeout
    while not want(events):
        left = deadline - time.monotonic()
        if left <= 0:
            return False
        try:
            tag, words = streams.q.get(timeout=left)
        except queue.Empty:
            return False
        events.append((tag, words))
    return True


def first(events, tag, kind, after, match=lambda w: True):
    times = [int(w[1]) for t, w in events if t == tag and w[0] == kind and int(w[1]) >= after and match(w)]
    return min(times) if times else None


def packet(src, dst, code):
    return lambda w: w[2] == src and w[3] == dst and w[4].startswith(code)


def drive(a):
    me = sys.argv[0]
    streams = Streams()
    caption = "tavinor - ALARM-Receiver"
    for tag, disp in (("B", a.b_display), ("C", a.c_display)):
        streams.start(tag, [sys.executable, me, "watch", caption], env={"DISPLAY": disp, "PATH": "/usr/bin:/bin"})
    streams.start("NET", ["ip", "netns", "exec", a.switch_ns, sys.executable, me, "sniff"])
    ready = []
    if not wait_for(streams, ready, lambda e: sum(w[0] == "READY" for _, w in e) == 3, 10):
        streams.stop()
        sys.exit("the watchers did not come up")
    keys = Keyboard(a.a_display)
    rows = []
    try:
        for i in range(a.alarms):
            events = []
            t_key = keys.press("F12")

            def arrived(e):
                return first(e, "B", "MAP", t_key) and first(e, "C", "MAP", t_key)

            if not wait_for(streams, events, arrived, 10):
                print("alarm %d: no receiver window at B and C within 10 s" % (i + 1), file=sys.stderr)
                return 1
            # The wire lines can trail the maps in the queue: give them a moment.
            wait_for(streams, events, lambda e: first(e, "NET", "PKT", t_key, packet(a.srv_ip, a.c_ip, "005:")) and
                     first(e, "NET", "PKT", t_key, packet(a.srv_ip, a.b_ip, "005:")), 2)
            t004 = first(events, "NET", "PKT", t_key, packet(a.a_ip, a.srv_ip, "004:"))
            row = {"key": t_key, "004": t004,
                   "005B": first(events, "NET", "PKT", t_key, packet(a.srv_ip, a.b_ip, "005:")),
                   "005C": first(events, "NET", "PKT", t_key, packet(a.srv_ip, a.c_ip, "005:")),
                   "mapB": first(events, "B", "MAP", t_key), "mapC": first(events, "C", "MAP", t_key)}
            rows.append(row)
            # End the alarm from A's sender window (it has the focus) and wait until B and C are clear again.
            t_cancel = keys.press("F4")
            if not wait_for(streams, events, lambda e: first(e, "B", "GONE", t_cancel) and
                            first(e, "C", "GONE", t_cancel), 10):
                print("alarm %d: F4 at A did not close the receiver windows" % (i + 1), file=sys.stderr)
                return 1
            # Let both stations finish with the cancel before the next alarm.
            time.sleep(0.3)
    finally:
        streams.stop()
    report(rows)
    return 0


def report(rows):
    def ms(a, b):
        return None if a is None or b is None else (b - a) / 1e6

    hops = [("key at A -> 004 on the wire", "key", "004"),
            ("server: 004 -> 005 to B", "004", "005B"),
            ("server: 004 -> 005 to C", "004", "005C"),
            ("B: 005 -> window mapped", "005B", "mapB"),
            ("C: 005 -> window mapped", "005C", "mapC"),
            ("total: key at A -> mapped at B", "key", "mapB"),
            ("total: key at A -> mapped at C", "key", "mapC")]
    print("alarm  " + "  ".join("%8s" % h for h in ("A", "srv>B", "srv>C", "B", "C", "tot B", "tot C")) + "   (ms)")
    for i, r in enumerate(rows):
        cells = [ms(r[f], r[t]) for _, f, t in hops]
        print("%5d  " % (i + 1) + "  ".join("%8s" % ("-" if c is None else "%.1f" % c) for c in cells))
    print()
    print("%-34s %8s %8s %8s   over %d alarms" % ("hop (ms)", "median", "worst", "best", len(rows)))
    for name, f, t in hops:
        vals = [v for v in (ms(r[f], r[t]) for r in rows) if v is not None]
        if vals:
            print("%-34s %8.1f %8.1f %8.1f%s" % (name, statistics.median(vals), max(vals), min(vals),
                                                  "" if len(vals) == len(rows) else "   (%d seen)" % len(vals)))
        else:
            print("%-34s %8s" % (name, "not seen"))


def main():
    p = argparse.ArgumentParser()
    sub = p.add_subparsers(dest="mode", required=True)
    sub.add_parser("watch").add_argument("caption")
    sub.add_parser("sniff")
    d = sub.add_parser("drive")
    for opt in ("a-display", "b-display", "c-display", "switch-ns", "a-ip", "b-ip", "c-ip", "srv-ip"):
        d.add_argument("--" + opt, required=True)
    d.add_argument("--alarms", type=int, default=20)
    a = p.parse_args()
    if a.mode == "watch":
        watch(a.caption)
    elif a.mode == "sniff":
        sniff()
    else:
        sys.exit(drive(a))


if __name__ == "__main__":
    main()
