"""Helpers for the tests of what the user sees: packages with a sleeping test installer, the
robot's window snapshots, and the screen geometry they are checked against."""
import json
import os
import shutil

import tessel_e2e as e2e

SCREEN_W, SCREEN_H = 1280, 1024  # the harness's Xvfb screen
PROGRESS_TITLE = "Halvo Bundrel"
PROGRESS_BAR = 1007
STATIC_ID = 0xFFFF  # the static id -1, as GetDlgCtrlID reports it
MSG_TEXT, BUTTON_LEFT, BUTTON_RIGHT, CHECK = 1002, 1000, 1001, 1003
ARTIFACTS = os.path.join(e2e.BUILD, "artifacts")
EXTRACTING_EN = "Extracting..."
EXTRACTING_JA = "\u5c55\u958b\u4e2d\u2026"
OK_EN, CANCEL_EN, CANCEL_JA = "OK", "Cancel", "\u30ad\u30e3\u30f3\u30bb\u30eb"
SUCCESS_EN = "Setup completed successfully."
FAILED_1002_EN = "Setup failed.(Error Code: 1002)"
INSTALLER = "Setup.exe"


def scaled(value, dpi):
    """MulDiv(value, dpi, 96): rounds halves away from zero, as Windows does."""
    n = value * dpi
    q, r = divmod(abs(n), 96)
    if 2 * r >= 96:
        q += 1
    return q if n >= 0 else -q


def artifact(name):
    os.makedirs(ARTIFACTS, exist_ok=True)
    return e2e.winpath(os.path.join(ARTIFACTS, name))


def description(assist, message=None, files=(), cabinet=True, compression="none"):
    """The text of a package description; assist and message are ordered (key, value) pairs."""
    lines = ["[package]", "codepage = 1252", "", "[assist]"]
    lines += ["%s = %s" % kv for kv in assist]
    if message:
        lines += ["", "[message]"] + ["%s = %s" % kv for kv in message]
    if cabinet:
        lines += ["", "[cabinet]", "folder = payload", "compression = %s" % compression]
    if files:
        lines += ["", "[files]"] + list(files)
    return "\n".join(lines) + "\n"


def make_package(session, name, code="0", show_result="0", success="0", product="Tessel UI Test",
                 check="0", message=None, catalogue=None, payload_bytes=0, extra_assist=()):
    """Builds a package whose installer is exitwith.exe (as Setup.exe in the cabinet), started with
    `code` as its first argument. `payload_bytes` adds that much random data to the cabinet (stored,
    not compressed) so that the extraction lasts. Returns the package's Windows path."""
    out_dir = os.path.join(session.root, "packages", name)
    shutil.rmtree(out_dir, ignore_errors=True)
    with open(e2e.EXITWITH, "rb") as f:
        files = {os.path.join("payload", INSTALLER): f.read()}
    if payload_bytes:
        files[os.path.join("payload", "bulk.bin")] = os.urandom(payload_bytes)
    listed = []
    if catalogue is not None:
        files["MessageInfo.xml"] = catalogue.encode("utf-8") if isinstance(catalogue, str) else catalogue
        listed.append("MessageInfo.xml")
    assist = [("ExecuteFileName", INSTALLER), ("ParamManual", code), ("ParamSRM", code), ("ParamSRAU", code),
              ("ProductName", product), ("ExtractPathByUser", "0"), ("UseHalvoCheck", check),
              ("Elevation", "0"), ("ShowResult", show_result), ("SuccessCode", success)] + list(extra_assist)
    message = message or [("IsShowMessageBox", "0"), ("IsOk", "0")]
    text = description(assist, message, listed)
    return e2e.winpath(e2e.build_package(text, files, out_dir))


class InstallerLog:
    """The JSON lines exitwith.exe appends for each start (TESSEL_EXITWITH_LOG)."""

    def __init__(self, session):
        self.path = os.path.join(session.root, "exitwith.log")

    def env(self):
        return {"TESSEL_EXITWITH_LOG": e2e.winpath(self.path)}

    def clear(self):
        if os.path.exists(self.path):
            os.unlink(self.path)

    def starts(self):
        if not os.path.exists(self.path):
            return []
        with open(self.path, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]


def snapshots(events, title=None, cls=None):
    """(t_ms, window) for every window the transcript described: waits, dumps and watch changes."""
    out = []
    for e in events:
        t = e.get("t_ms", 0)
        wins = []
        if e.get("event") == "wait-window" and "window" in e:
            wins = [e["window"]]
        elif e.get("event") == "dump":
            wins = e.get("windows", [])
        elif e.get("event") == "watch-change" and "window" in e:
            wins = [e["window"]]
        for w in wins:
            if title is not None and w.get("title") != title:
                continue
            if cls is not None and w.get("class") != cls:
                continue
            out.append((t, w))
    return out


def event(events, name, index=0):
    found = [e for e in events if e.get("event") == name]
    return found[index] if len(found) > index else None


def errors(events):
    return [e for e in events if e.get("event") in ("error", "timeout")]


def rect(item):
    r = item["rect"]
    return r["x"], r["y"], r["w"], r["h"]


def client_origin(window):
    """Screen position of the client area: the frame is symmetric left/right and bottom."""
    x, y, w, h = rect(window)
    border = (w - window["client"]["w"]) // 2
    return x + border, y + h - border - window["client"]["h"]



def run(session, package, steps, args=(), timeout=180):
    return session.robot(package, args=list(args), steps=list(steps), timeout=timeout)
