#!/usr/bin/env python3
"""Tests of tessel-robot under Wine, against fixture_app.exe (see fixture_app.cpp for its modes)."""
import argparse
import json
import os
import shutil
import struct
import sys

from wine_session import WineSession, winpath

EXIT_OK = 0x12345678
EXIT_CLOSED = 7
EXIT_ESCAPE = 27


class Harness:
    def __init__(self, args):
        self.args = args
        self.work = os.path.abspath(args.workdir)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.fixture = winpath(args.fixture)
        self.failures = []
        self.session = WineSession(args.wine_run, self.work)

    def robot(self, robot_args, program_args=()):
        """Runs the robot; returns (exit status, transcript lines). Every stdout line must be JSON."""
        proc = self.session.run(self.args.robot, list(robot_args) + ["--", self.fixture] + list(program_args))
        text = proc.stdout.decode("utf-8")
        try:
            lines = [json.loads(l) for l in text.splitlines()]
        except ValueError:
            raise AssertionError("transcript is not JSON Lines:\n" + text)
        return proc.returncode, lines

    def check(self, name, condition, detail=""):
        print(("ok   " if condition else "FAIL ") + name + ("" if condition else ": " + str(detail)[:2000]))
        if not condition:
            self.failures.append(name)


def steps(*lines):
    out = []
    for line in lines:
        out += ["--step", line]
    return out


def events(lines, name):
    return [l for l in lines if l.get("event") == name]


def control(window, ident):
    found = [c for c in window["controls"] if c["id"] == ident]
    return found[0] if found else None


def test_dump_screenshot_press(h):
    # A script file drives the fixture: its window, controls and their rectangles are reported as
    # created, a screenshot is written, and OK ends it with the full exit code.
    shot = os.path.join(h.work, "fixture shot.bmp")
    script = os.path.join(h.work, "press.txt")
    with open(script, "w", encoding="utf-8") as f:
        f.write("# wait for the fixture, look at it, picture it, press OK\n"
                "wait-window --class TesselFixture --title \"Fixture App\" --timeout 20000\n\n"
                "dump\n"
                "screenshot --window main \"%s\"\n"
                "press --window \"class=TesselFixture;title=~fixture\" --button OK\n"
                "wait-exit --timeout 20000\n" % winpath(shot))
    status, lines = h.robot(["--script", winpath(script)])
    h.check("press scenario ends with status 0", status == 0, lines)
    h.check("first line is the start", lines and lines[0]["event"] == "start" and lines[0]["pid"] > 0, lines[:1])
    h.check("last line is the exit with the full code",
            lines and lines[-1]["event"] == "exit" and lines[-1]["code"] == EXIT_OK, lines[-1:])
    h.check("peak working set is reported", lines and (lines[-1].get("peak_working_set") or 0) > 1024 * 1024,
            lines[-1:])
    dumps = events(lines, "dump")
    windows = [w for w in dumps[0]["windows"] if w["class"] == "TesselFixture"] if dumps else []
    h.check("dump shows the fixture window once", len(windows) == 1, dumps)
    if not windows:
        return
    w = windows[0]
    h.check("window facts", w["title"] == "Fixture App" and w["visible"] and w["client"] == {"w": 300, "h": 150}
            and w["taskbar"] and w["covers_pixels"] and w["pid"] == lines[0]["pid"], w)
    label, bar, ok = control(w, 100), control(w, 101), control(w, 1)
    h.check("label text and rect", label and label["class"].lower() == "static" and label["text"] == "Hello, robot"
            and label["rect"] == {"x": 10, "y": 10, "w": 200, "h": 20}, label)
    h.check("progress bar rect, position and range",
            bar and bar["rect"] == {"x": 10, "y": 40, "w": 280, "h": 16}
            and bar.get("progress") == {"pos": 250, "min": 0, "max": 1000}, bar)
    h.check("button rect and text", ok and ok["text"] == "&OK" and ok["rect"] == {"x": 200, "y": 110, "w": 80, "h": 25}
            and ok["default"], ok)
    shots = events(lines, "screenshot")
    h.check("screenshot reported", shots and shots[0]["written"] and shots[0]["width"] == w["rect"]["w"], shots)
    header = open(shot, "rb").read(54) if os.path.exists(shot) else b""
    if len(header) == 54:
        magic, size = header[:2], struct.unpack("<I", header[2:6])[0]
        width, height, _, bits = struct.unpack("<iiHH", header[18:30])
        h.check("screenshot is a 24-bit BMP of the window",
                magic == b"BM" and bits == 24 and (width, height) == (w["rect"]["w"], w["rect"]["h"])
                and size == os.path.getsize(shot), (magic, bits, width, height))
    else:
        h.check("screenshot file written", False, shot)


def test_ways_to_end(h):
    # Each way a user (or another program) ends the fixture, and the exit code that proves which
    # path the fixture took.
    cases = [
        ("close", EXIT_CLOSED),
        ("syscommand --window main SC_CLOSE", EXIT_CLOSED),
        ("key --window main alt+F4", EXIT_CLOSED),
        ("key --window main ESCAPE", EXIT_ESCAPE),
        ("send-message --window main WM_COMMAND 1 0", EXIT_OK),
        ("press --button 1 --method command", EXIT_OK),
    ]
    for step, code in cases:
        status, lines = h.robot(steps("wait-window --class TesselFixture --timeout 20000", step,
                                      "wait-gone --window main", "wait-exit --timeout 20000"))
        h.check("%s -> exit %d" % (step, code),
                status == 0 and lines[-1]["event"] == "exit" and lines[-1]["code"] == code, lines[-3:])


def test_key_goes_to_focus(h):
    status, lines = h.robot(steps("wait-window --class TesselFixture --timeout 20000", "key --window main ESCAPE",
                                  "wait-exit --timeout 20000"))
    key = events(lines, "key")
    h.check("key goes to the focused button", key and key[0]["to_class"] == "Button" and key[0]["vk"] == 27, key)


def test_child_process_window(h):
    # The window belongs to a child of the started program: the tree is tracked.
    status, lines = h.robot(steps("wait-window --class TesselFixture --timeout 20000", "dump --visible-only",
                                  "press --window last --button OK", "wait-exit --timeout 20000"), ["spawn"])
    found = events(lines, "wait-window")
    root = lines[0]["pid"] if lines else None
    h.check("window found in the child process", found and found[0]["window"]["pid"] != root, found)
    dumps = events(lines, "dump")
    h.check("dump lists both processes", dumps and len(dumps[0]["pids"]) >= 2 and dumps[0]["pids"][0] == root, dumps)
    h.check("child's code comes back through the parent",
            status == 0 and lines[-1]["event"] == "exit" and lines[-1]["code"] == EXIT_OK, lines[-1:])


def test_run_mode(h):
    for code in (0xFFFFFFFF, 0x80000000, 3010, 0):
        status, lines = h.robot(["run"], ["exit", hex(code)])
        h.check("run mode reports %#x in full" % code,
                status == 0 and lines[-1]["event"] == "exit" and lines[-1]["code"] == code, lines)
    # The program's own standard output must not leak into the transcript.
    status, lines = h.robot(["run"], ["print"])
    h.check("program output kept out of the transcript",
            status == 0 and [l["event"] for l in lines] == ["start", "exit"] and lines[-1]["code"] == 5, lines)


def test_wait_exit_timeout(h):
    status, lines = h.robot(steps("wait-window --class TesselFixture --timeout 20000", "wait-exit --timeout 1500"))
    h.check("wait-exit times out on a program that never ends",
            status not in (0, 2) and lines[-1]["event"] == "timeout" and not events(lines, "exit"), (status, lines[-2:]))
    status, lines = h.robot(["run", "--timeout", "1500"])
    h.check("run mode times out too", status not in (0, 2) and lines[-1]["event"] == "timeout", (status, lines))


def test_watch(h):
    # A zero-size tool window is seen but never covers a pixel nor gets a taskbar button.
    status, lines = h.robot(steps("watch --interval 20 --duration 8000"), ["tiny", "1000"])
    summary = events(lines, "watch")
    appeared = [l for l in events(lines, "watch-change") if l["change"] == "appeared"
                and l["window"]["class"] == "TesselFixture"]
    h.check("watch saw the tiny window", appeared and appeared[0]["window"]["visible"]
            and appeared[0]["window"]["rect"]["w"] == 0, appeared)
    h.check("tiny window never covers pixels", summary and not summary[0]["ever_covered_pixels"]
            and not summary[0]["ever_taskbar"] and summary[0]["exited"], summary)
    h.check("tiny run exits 0", status == 0 and lines[-1]["event"] == "exit" and lines[-1]["code"] == 0, lines[-1:])
    # A normal window does both.
    status, lines = h.robot(steps("watch --interval 50 --duration 1500", "close", "wait-exit --timeout 20000"))
    summary = events(lines, "watch")
    h.check("normal window covers pixels and has a taskbar button",
            summary and summary[0]["ever_covered_pixels"] and summary[0]["ever_taskbar"], summary)


def test_browse_select(h):
    target = os.path.join(h.work, "browse", "pick me", "deeper")
    os.makedirs(target)
    out = os.path.join(h.work, "picked.txt")
    status, lines = h.robot(steps('browse-select --timeout 20000 --path "%s"' % winpath(target),
                                  "wait-exit --timeout 20000"), ["browse", winpath(out)])
    picked = open(out, encoding="utf-8").read() if os.path.exists(out) else None
    h.check("folder dialog returns the folder driven in its tree",
            status == 0 and lines[-1].get("code") == 0 and picked and picked.lower() == winpath(target).lower(),
            (picked, lines[-2:]))
    sel = events(lines, "browse-select")
    h.check("tree items walked", sel and sel[0]["items"][-2:] == ["pick me", "deeper"] and sel[0]["pressed_ok"], sel)


def test_errors(h):
    # A failing step prints an error, ends the program and gives status 2; nothing claims an exit.
    cases = [
        (steps("wait-window --class TesselFixture --timeout 20000", "press --button Nope"), "press"),
        (steps("wait-window --class NoSuchClass --timeout 1500"), "wait-window"),
        (steps("wait-window --class TesselFixture --timeout 20000", "key --window main NOSUCHKEY"), "key"),
    ]
    for args, command in cases:
        status, lines = h.robot(args)
        errors = events(lines, "error")
        h.check("failing %s gives status 2" % command, status == 2 and errors and errors[0]["command"] == command
                and lines[-1]["event"] == "error" and not events(lines, "exit"), (status, lines[-2:]))
    # A bad scenario is refused before the program starts.
    status, lines = h.robot(steps("wait-window --bogus 1"))
    h.check("bad step refused before start", status == 2 and not events(lines, "start") and events(lines, "error"),
            lines)
    status, lines = h.robot(steps("wait-exit", "dump"))
    h.check("steps after wait-exit refused", status == 2 and not events(lines, "start"), lines)


def main():
    parser = argparse.ArgumentParser()
    for name in ("--wine-run", "--robot", "--fixture", "--workdir"):
        parser.add_argument(name, required=True)
    parser.add_argument("--only", help="run only tests whose name contains this")
    args = parser.parse_args()
    h = Harness(args)
    tests = (test_dump_screenshot_press, test_ways_to_end, test_key_goes_to_focus, test_child_process_window,
             test_run_mode, test_wait_exit_timeout, test_watch, test_browse_select, test_errors)
    try:
        for test in tests:
            if args.only and args.only not in test.__name__:
                continue
            try:
                test(h)
            except Exception as e:  # one broken case must not hide the others
                h.check(test.__name__, False, repr(e))
    finally:
        h.session.close()
    print("%d failure(s)" % len(h.failures))
    return 1 if h.failures else 0


if __name__ == "__main__":
    sys.exit(main())
