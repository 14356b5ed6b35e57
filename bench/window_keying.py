#!/usr/bin/env python3
"""Keying of the real window, measured by hand on a faked serial port.

Runs build/kestrix under the keyshim LD_PRELOAD library (which fakes /dev/ttyKEY0 and logs
every DTR/RTS edge on CLOCK_MONOTONIC) on a looping recording, drives the window with XTest
key events (timestamped on the same clock right after XSync) and xdotool mouse clicks, and
reads the keying log back with keyshim's analyzer, phase by phase:

  typing    Xmit Enable on, single letters typed while idle: key press to first edge
  fast      "cq test" typed much faster than it is sent: gaps and element timing
  menus     a long text typed, then menus opened and the window moved/resized while it goes out
  memory    F3 with M3 = "CQ TEST DE K1ABC"; then F3 again and Escape after 1.5 s
  quit      F3, then quit (SIGTERM or File menu) mid-send: the last logged line state

  DISPLAY=:99 KESTRIX_HOME=... bench/window_keying.py --keyshim /tmp/keyshim [--build build]
      [--quit sigterm|menu] [--out /dev/shm/kestrix-window]

Needs an X server (Xvfb), xdotool, ImageMagick's import (screenshots) and the keyshim build.
Window coordinates below are offsets inside the 556x482 main window at its default layout.
"""
import argparse
import ctypes
import json
import os
import signal
import subprocess
import sys
import time

XMIT_ENABLE = (508, 398)
TX_PANE = (223, 314)
MENU_FILE = (23, 10)
MENU_TRANSMIT = (373, 10)
MENU_DISPLAY = (299, 10)
FILE_QUIT = (46, 125)  # "Quit" in the open File menu


def now_ns():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC)


class XTest:
    """Key events through XTest; each returns the monotonic time after the server took it."""

    def __init__(self):
        self.x = ctypes.CDLL("libX11.so.6")
        self.t = ctypes.CDLL("libXtst.so.6")
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x.XStringToKeysym.restype = ctypes.c_ulong
        self.x.XStringToKeysym.argtypes = [ctypes.c_char_p]
        self.x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.t.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                             ctypes.c_ulong]
        self.d = self.x.XOpenDisplay(None)
        if not self.d:
            raise SystemExit("cannot open the X display")

    def code(self, name):
        return self.x.XKeysymToKeycode(self.d, self.x.XStringToKeysym(name.encode()))

    def key(self, name):
        """Press and release; returns (before press, after the press was synced) in ns."""
        kc = self.code(name)
        t0 = now_ns()
        self.t.XTestFakeKeyEvent(self.d, kc, 1, 0)
        self.x.XSync(self.d, 0)
        t1 = now_ns()
        self.t.XTestFakeKeyEvent(self.d, kc, 0, 0)
        self.x.XSync(self.d, 0)
        return t0, t1

    def chord(self, modifier, name):
        """modifier held while name is pressed; returns the time after the press was synced."""
        mc, kc = self.code(modifier), self.code(name)
        self.t.XTestFakeKeyEvent(self.d, mc, 1, 0)
        self.t.XTestFakeKeyEvent(self.d, kc, 1, 0)
        self.x.XSync(self.d, 0)
        t1 = now_ns()
        self.t.XTestFakeKeyEvent(self.d, kc, 0, 0)
        self.t.XTestFakeKeyEvent(self.d, mc, 0, 0)
        self.x.XSync(self.d, 0)
        return t1


def xdo(*args):
    return subprocess.run(["xdotool", *map(str, args)], check=True, capture_output=True,
                          text=True).stdout.strip()


def read_edges(log):
    """(t_ns, dtr, rts, call) for every logged line state of the fake tty."""
    out = []
    with open(log) as f:
        for line in f:
            if line.startswith("#") or "dev=/dev/ttyKEY0" not in line:
                continue
            parts = line.split()
            kv = dict(p.split("=", 1) for p in parts[1:] if "=" in p)
            if "dtr" in kv:
                out.append((int(parts[0]), int(kv["dtr"]), int(kv["rts"]), kv["call"]))
    return out


def slice_log(log, t_from, t_to, path):
    """The lines logged between t_from and t_to, after the last line before t_from, so the
    analyzer starts from the line state the slice begins in."""
    with open(log) as f, open(path, "w") as g:
        seed = None
        for line in f:
            if line.startswith("#"):
                g.write(line)
                continue
            t = int(line.split()[0])
            if t < t_from:
                seed = line
            elif t <= t_to:
                if seed is not None:
                    g.write(seed)
                    seed = None
                g.write(line)
    return path


def analyze(args, log, text, extra=()):
    cmd = [sys.executable, os.path.join(args.keyshim, "keyanalyze.py"), log, "--wpm",
           str(args.wpm), "--word-gap-after-char"]
    if text:
        cmd += ["--text", text]
    r = subprocess.run(cmd + list(extra), capture_output=True, text=True)
    return r.returncode, r.stdout + r.stderr


def shot(args, name):
    path = os.path.join(args.out, name + ".png")
    subprocess.run(["import", "-window", "root", path], capture_output=True)
    return path


def wait_idle(log, since_ns, quiet_s, limit_s):
    """Waits until an edge has been logged after since_ns and then none for quiet_s seconds
    (or limit_s passed)."""
    end = time.time() + limit_s
    while time.time() < end:
        e = read_edges(log)
        if e and e[-1][0] > since_ns and (now_ns() - e[-1][0]) / 1e9 >= quiet_s:
            return
        time.sleep(0.1)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--keyshim", default="/tmp/keyshim")
    ap.add_argument("--build", default="build")
    ap.add_argument("--out", default="/dev/shm/kestrix-window")
    ap.add_argument("--wpm", type=int, default=20)
    ap.add_argument("--quit", choices=["sigterm", "menu"], default="sigterm")
    ap.add_argument("--trials", type=int, default=12)
    ap.add_argument("--fifo", type=int, default=0, metavar="PRIO",
                    help="after the latency trials, move the threads that keyed to SCHED_FIFO "
                         "PRIO (chrt; needs root or RLIMIT_RTPRIO): does scheduling stretch "
                         "the elements?")
    args = ap.parse_args()
    os.makedirs(args.out, exist_ok=True)
    home = os.environ.get("KESTRIX_HOME") or os.path.join(args.out, "home")
    os.makedirs(home, exist_ok=True)
    os.environ["KESTRIX_HOME"] = home
    kestrix = os.path.realpath(os.path.join(args.build, "kestrix"))
    settings = os.path.join(home, "Kestrix.cfc")
    subprocess.run([kestrix, "--write-default-settings", settings], check=True)
    here = os.path.dirname(os.path.abspath(__file__))
    subprocess.run([sys.executable, os.path.join(here, "window_keying_setup.py"), settings,
                    "--wpm", str(args.wpm), "--buffer", "3=CQ TEST DE K1ABC"], check=True)
    wav = os.path.join(args.out, "in.wav")
    subprocess.run([os.path.join(args.build, "kestrix-morsegen"), "--wpm", "20", "--snr", "20",
                    "CQ CQ DE W1AW W1AW K TEST TEST PARIS PARIS", wav], check=True,
                   capture_output=True)
    log = os.path.join(args.out, "keys.log")
    if os.path.exists(log):
        os.remove(log)
    env = dict(os.environ, LD_PRELOAD=os.path.join(os.path.realpath(args.keyshim),
                                                   "libkeyshim.so"), KEYSHIM_LOG=log)
    applog = open(os.path.join(args.out, "kestrix.out"), "w")
    # KESTRIX_ARGS: more options for the window (e.g. --band-map, to key with it open). The
    # band map is placed below the main window: with no window manager it would cover it
    # and take the clicks.
    more = os.environ.get("KESTRIX_ARGS", "").split()
    with open(os.path.join(home, "BandMap.cfg"), "w") as f:
        f.write("geometry=0,760,900,250\n")
    app = subprocess.Popen([kestrix, "--input-file", wav, "--loop", *more], env=env, stdout=applog,
                           stderr=subprocess.STDOUT)
    report = {"phases": {}}
    try:
        win = None
        for _ in range(100):
            time.sleep(0.1)
            try:
                # --all: xdotool ORs its conditions by default, and every window of the
                # process (the band map too) would match --pid alone.
                ids = xdo("search", "--all", "--pid", app.pid, "--name", "^Kestrix$").split()
            except subprocess.CalledProcessError:
                continue
            for w in ids:
                geo = xdo("getwindowgeometry", w)
                if "Geometry: 1x1" not in geo:
                    win = w
            if win:
                break
        if not win:
            raise SystemExit("no window")
        time.sleep(1.5)

        def click(rel):
            xdo("mousemove", "--window", win, rel[0], rel[1], "click", "1")

        xt = XTest()

        def alive(phase):
            report.setdefault("alive", []).append((phase, app.poll() is None, (now_ns()) / 1e9))

        shot(args, "0-start")
        click(XMIT_ENABLE)
        time.sleep(0.5)
        click(TX_PANE)
        time.sleep(0.3)
        shot(args, "1-xmit-enabled")

        # key press to first edge, the sender idle before each press
        lat = []
        t_lat0 = now_ns()
        for i in range(args.trials):
            letter = "e" if i % 2 == 0 else "t"
            t0, t1 = xt.key(letter)
            time.sleep(0.9)
            e = [x for x in read_edges(log) if x[0] > t0 and x[1] == 1]
            lat.append({"letter": letter, "before_ms": (e[0][0] - t0) / 1e6 if e else None,
                        "after_sync_ms": (e[0][0] - t1) / 1e6 if e else None})
        report["phases"]["typing_latency"] = lat
        if args.fifo:
            tids = set()
            with open(log) as f:
                for line in f:
                    kv = dict(p.split("=", 1) for p in line.split()[1:] if "=" in p)
                    if kv.get("call") in ("TIOCMBIS", "TIOCMBIC") and kv.get("tid") != kv.get("pid"):
                        tids.add(kv["tid"])
            for tid in sorted(tids):
                subprocess.run(["chrt", "-f", "-p", str(args.fifo), tid], check=False)
            report["fifo_tids"] = sorted(tids)
        ok = [x["after_sync_ms"] for x in lat if x["after_sync_ms"] is not None]
        if ok:
            ok.sort()
            report["latency_summary_ms"] = {"n": len(ok), "min": ok[0], "median": ok[len(ok) // 2],
                                            "max": ok[-1]}
        else:
            # Nothing keyed: every later phase would measure nothing as well.
            shot(args, "1b-nothing-keyed")
            raise SystemExit("no key-down after %d typed letters: the clicks on Xmit Enable and "
                             "the transmit pane did not reach the main window (see %s)"
                             % (args.trials, args.out))
        wait_idle(log, t_lat0, 1.0, 5)
        xt.key("Escape")  # clears the pane
        time.sleep(0.5)

        alive("before: typed faster than sent")
        # typed faster than sent
        t_start = now_ns()
        stamps = []
        for ch in "cq test":
            stamps.append(xt.key("space" if ch == " " else ch))
            time.sleep(0.05)
        time.sleep(0.3)
        shot(args, "2-typing")
        wait_idle(log, t_start, 1.5, 20)
        t_end = now_ns()
        rc, out = analyze(args, slice_log(log, t_start, t_end, os.path.join(args.out, "fast.log")),
                          "CQ TEST")
        first = [x for x in read_edges(log) if x[0] > t_start and x[1] == 1]
        report["phases"]["fast"] = {"rc": rc, "analyzer": out,
                                    "first_edge_ms": (first[0][0] - stamps[0][1]) / 1e6
                                    if first else None}
        xt.key("Escape")
        time.sleep(0.5)

        alive("before: menus and repaints while a long text goes out")
        # menus and repaints while a long text goes out
        text = "paris paris paris paris"
        t_start = now_ns()
        for ch in text:
            xt.key("space" if ch == " " else ch)
            time.sleep(0.03)
        time.sleep(1.0)
        events = []
        for menu in (MENU_TRANSMIT, MENU_FILE, MENU_DISPLAY):
            events.append(("open menu", now_ns()))
            click(menu)
            time.sleep(0.8)
            shot(args, "3-menu-%d" % menu[0])
            xdo("mousemove", "--window", win, menu[0] + 20, 60)
            time.sleep(0.4)
            xdo("mousemove", "--window", win, menu[0] + 20, 100)
            time.sleep(0.4)
            events.append(("close menu", now_ns()))
            click(menu)  # a second click on the title closes it
            time.sleep(0.5)
        for dx in range(0, 200, 20):
            events.append(("move window", now_ns()))
            xdo("windowmove", win, 300 + dx, 250)
            time.sleep(0.1)
        for w in (600, 700, 556):
            events.append(("resize window", now_ns()))
            xdo("windowsize", win, w, 482 + (w - 556) // 2)
            time.sleep(0.3)
        xdo("windowmove", win, 362, 271)
        wait_idle(log, t_start, 1.5, 40)
        t_end = now_ns()
        rc, out = analyze(args, slice_log(log, t_start, t_end, os.path.join(args.out, "menus.log")),
                          text.upper())
        report["phases"]["menus"] = {"rc": rc, "analyzer": out, "events_s": [
            (n, (t - t_start) / 1e9) for n, t in events]}
        xt.key("Escape")
        time.sleep(0.5)
        click(TX_PANE)
        time.sleep(0.3)

        # SEND (Alt+D) while typed text goes out
        alive("before: alt+d")
        t_start = now_ns()
        for ch in "paris paris paris":
            xt.key("space" if ch == " " else ch)
            time.sleep(0.03)
        time.sleep(1.5)
        t_send = xt.chord("Alt_L", "d")
        time.sleep(3.0)
        e = [x for x in read_edges(log) if x[0] > t_start]
        after = [x for x in e if x[0] > t_send]
        before = [x for x in e if x[0] <= t_send]
        shot(args, "3b-alt-d")
        report["phases"]["alt_d"] = {
            "edges_before": len(before), "edges_after": len(after),
            "key_down_at_send": before[-1][1] if before else None,
            "last_edge_after_send_ms": (after[-1][0] - t_send) / 1e6 if after else None,
            "state_after": e[-1][1:3] if e else None,
        }
        xt.key("Escape")
        time.sleep(0.5)
        click(TX_PANE)
        time.sleep(0.3)

        alive("before: F3: M3")
        # F3: M3
        t_start = now_ns()
        xt.key("F3")
        alive("F3 pressed")
        time.sleep(1.0)
        alive("F3 + 1 s")
        shot(args, "4-f3")
        wait_idle(log, t_start, 1.5, 30)
        t_end = now_ns()
        rc, out = analyze(args, slice_log(log, t_start, t_end, os.path.join(args.out, "f3.log")),
                          "CQ TEST DE K1ABC")
        report["phases"]["f3"] = {"rc": rc, "analyzer": out}

        alive("before: F3 then Escape")
        # F3 then Escape
        t_start = now_ns()
        xt.key("F3")
        time.sleep(1.5)
        t_esc0, t_esc = xt.key("Escape")
        time.sleep(0.5)
        shot(args, "5-escape")
        time.sleep(2.0)
        e = [x for x in read_edges(log) if x[0] > t_start]
        after = [x for x in e if x[0] > t_esc]
        before = [x for x in e if x[0] <= t_esc]
        report["phases"]["escape"] = {
            "key_down_at_escape": before[-1][1] if before else None,
            "ms_since_last_edge_at_escape": (t_esc - before[-1][0]) / 1e6 if before else None,
            "edges_before_escape": len([x for x in e if x[0] <= t_esc]),
            "edges_after_escape": len(after),
            "last_edge_after_escape_ms": (after[-1][0] - t_esc) / 1e6 if after else None,
            "state_after": e[-1][1:3] if e else None,
        }

        alive("before: quit in the middle of a send")
        # quit in the middle of a send
        xt.key("F3")
        time.sleep(1.2)
        t_quit = now_ns()
        alive("quitting")
        if args.quit == "sigterm":
            app.send_signal(signal.SIGTERM)
        else:
            click(MENU_FILE)
            time.sleep(0.5)
            shot(args, "6-file-menu")
            t_quit = now_ns()
            click(FILE_QUIT)
        try:
            rc_app = app.wait(timeout=10)
        except subprocess.TimeoutExpired:
            rc_app = None
        t_gone = now_ns()
        e = read_edges(log)
        report["phases"]["quit"] = {
            "how": args.quit, "exit_status": rc_app,
            "exit_after_ms": (t_gone - t_quit) / 1e6,
            "last_state": e[-1] if e else None,
            "last_change_after_quit_ms": (e[-1][0] - t_quit) / 1e6 if e else None,
            "tail": e[-4:],
        }
        rc, out = analyze(args, log, None)
        report["whole_log"] = {"rc": rc, "analyzer": out}
    finally:
        if app.poll() is None:
            app.send_signal(signal.SIGTERM)
            try:
                app.wait(timeout=5)
            except subprocess.TimeoutExpired:
                app.kill()
    with open(os.path.join(args.out, "report.json"), "w") as f:
        json.dump(report, f, indent=1, default=str)
    print("latency (ms after the key press reached the server):", report.get("latency_summary_ms"))
    for name in ("alt_d", "escape", "quit"):
        print(name, report["phases"].get(name))
    print("window alive:", report.get("alive"))
    for name in ("fast", "menus", "f3"):
        print("=== %s\n%s" % (name, report["phases"].get(name, {}).get("analyzer", "")))
    print("=== whole log\n%s" % report["whole_log"]["analyzer"])


if __name__ == "__main__":
    main()
