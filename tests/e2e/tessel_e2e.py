"""Whole-program tests: the real stub under wine64, driven by the test robot.

Each test file makes a Wine session: a clone of the session's fresh prefix (scripts/test.sh makes
it; a private one is made when run alone), its own wineserver, and the X server of the test run.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("TESSEL_BUILD", os.path.join(ROOT, "build", "win64"))
HOST_BUILD = os.environ.get("TESSEL_HOST_BUILD", os.path.join(ROOT, "build", "host"))
BIN = os.path.join(BUILD, "bin")
STUB = os.path.join(BIN, "tessel-stub.exe")
MODULE = os.path.join(BIN, "UpdateModuleSetup.exe")
ROBOT = os.path.join(BIN, "tessel-robot.exe")
EXITWITH = os.path.join(BIN, "exitwith.exe")
PACK = os.path.join(HOST_BUILD, "bin", "tessel-pack")
WINE64 = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"

AGENT_KEY = r"HKLM\SOFTWARE\Halvo Corporation\Sendrin"
WS_EX_TOOLWINDOW = 0x80
WS_EX_APPWINDOW = 0x40000


def winpath(path):
    """The Windows name of a Linux path: Wine maps / to drive Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def base_prefix():
    prefix = os.environ.get("WINEPREFIX")
    if prefix and os.path.exists(os.path.join(prefix, "system.reg")):
        return prefix
    prefix = os.path.join(ROOT, "build", "wine", "prefix")
    if not os.path.exists(os.path.join(prefix, "system.reg")):
        subprocess.run(["bash", "-c", 'source "%s/scripts/wine-env.sh" && tessel_new_prefix "%s"' % (ROOT, prefix)],
                       check=True)
    return prefix


class WineSession:
    """A private Wine prefix cloned from the session's, with helpers to run things in it."""

    def __init__(self, name, env=None):
        self.root = tempfile.mkdtemp(prefix="tessel-e2e-%s-" % name, dir=os.path.join(ROOT, "build", "wine")
                                     if os.path.isdir(os.path.join(ROOT, "build", "wine")) else None)
        self.prefix = os.path.join(self.root, "prefix")
        src = base_prefix()
        subprocess.run(["cp", "-al", src, self.prefix], check=True)
        for reg in ("system.reg", "user.reg", "userdef.reg"):
            target = os.path.join(self.prefix, reg)
            if os.path.exists(target):
                os.unlink(target)
                shutil.copy2(os.path.join(src, reg), target)
        self.env = dict(os.environ)
        self.env.update({"WINEPREFIX": self.prefix, "WINEDEBUG": "-all", "WINEARCH": "win64",
                         "WINEDLLOVERRIDES": "mscoree,mshtml,winemenubuilder.exe="})
        self.env.pop("LC_ALL", None)
        if env:
            self.env.update(env)
        self.xvfb = None
        if not self.env.get("DISPLAY"):
            self._start_xvfb()
        self.drive_c = os.path.join(self.prefix, "drive_c")

    def _start_xvfb(self):
        # An explicit, random display number: servers started together with -displayfd were seen to
        # pick the same number, and the loser dies after start-up, taking every later window with it.
        import random
        for _ in range(20):
            number = random.randint(200, 5000)
            if os.path.exists("/tmp/.X11-unix/X%d" % number) or os.path.exists("/tmp/.X%d-lock" % number):
                continue
            proc = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for _ in range(100):
                if proc.poll() is not None or os.path.exists("/tmp/.X11-unix/X%d" % number):
                    break
                time.sleep(0.05)
            time.sleep(0.2)
            if proc.poll() is None and os.path.exists("/tmp/.X11-unix/X%d" % number):
                self.xvfb = proc
                self.env["DISPLAY"] = ":%d" % number
                return
            proc.kill()
        raise RuntimeError("could not start an X server")

    def close(self):
        subprocess.run([WINESERVER, "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()
        shutil.rmtree(self.root, ignore_errors=True)

    def set_env(self, **values):
        """Changes the environment of later Windows programs; the wineserver restarts to take it."""
        self.env.update(values)
        self.restart()

    def restart(self):
        subprocess.run([WINESERVER, "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([WINESERVER, "-w"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    # --- running programs
    def wine(self, *args, timeout=120, check=False):
        # Output goes through files, not pipes: a process the program leaves behind (the shell's
        # explorer.exe, say) would hold a pipe open and keep us waiting for its end.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            proc = subprocess.run([WINE64] + list(args), env=self.env, stdout=out, stderr=err,
                                  timeout=timeout, check=check)
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(proc.args, proc.returncode,
                                               out.read().decode("utf-8", "replace"),
                                               err.read().decode("utf-8", "replace"))

    def robot(self, program, args=(), steps=(), timeout=180, args_raw=None, cwd=None, options=()):
        """Runs the program under the robot with the given steps; returns the transcript events."""
        cmd = [ROBOT] + list(options)
        if cwd:
            cmd += ["--cwd", cwd]
        for step in steps:
            cmd += ["--step", step]
        if args_raw is not None:
            cmd += ["--args-raw", args_raw]
        cmd += ["--", program] + list(args)
        result = self.wine(*cmd, timeout=timeout)
        events = []
        for line in result.stdout.splitlines():
            line = line.strip()
            if line.startswith("{"):
                try:
                    events.append(json.loads(line))
                except json.JSONDecodeError:
                    pass
        return events

    # --- registry
    def reg_add(self, key, name, kind, data):
        r = self.wine("reg", "add", key, "/v", name, "/t", kind, "/d", str(data), "/f")
        if r.returncode != 0:
            raise RuntimeError("reg add failed: %s %s" % (r.stdout, r.stderr))

    def reg_add_key(self, key):
        self.wine("reg", "add", key, "/f")

    def reg_delete(self, key, name=None):
        args = ["reg", "delete", key] + (["/v", name] if name else []) + ["/f"]
        self.wine(*args)

    def reg_query(self, key, name):
        """The value's type and data as reg.exe shows them, or None."""
        r = self.wine("reg", "query", key, "/v", name)
        if r.returncode != 0:
            return None
        for line in r.stdout.splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[0].lower() == name.lower() and parts[1].startswith("REG_"):
                return parts[1], parts[2].strip()
        return None

    def set_windows_version(self, version):
        self.reg_add(r"HKCU\Software\Wine", "Version", "REG_SZ", version)

    def set_dpi(self, dpi):
        self.reg_add(r"HKCU\Control Panel\Desktop", "LogPixels", "REG_DWORD", dpi)
        self.restart()

    def host_path(self, windows_path):
        """The Linux path of a C:\\ path in this prefix."""
        assert windows_path[1:3] == ":\\" and windows_path[0].upper() == "C"
        return os.path.join(self.drive_c, *windows_path[3:].split("\\"))

    def work_root(self):
        return self.host_path(r"C:\ProgramData\Halvo Corporation\Halvo Bundrel\PackagingTemp")


def read_lines(session, windows_path):
    """The non-empty lines of a text file inside the session's prefix (none when it is missing)."""
    path = session.host_path(windows_path)
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        return [line.strip() for line in f.read().decode("utf-8", "replace").splitlines() if line.strip()]


def exit_event(events):
    for e in reversed(events):
        if e.get("event") in ("exit", "timeout"):
            return e
    return None


def exit_code(events):
    e = exit_event(events)
    if not e or e.get("event") != "exit":
        raise AssertionError("no exit in transcript: %s" % json.dumps(events)[-2000:])
    return e["code"]


def windows_of(events, title=None, cls=None):
    """Every window that any wait-window or dump event of the transcript saw."""
    found = []
    for e in events:
        wins = []
        if e.get("event") == "wait-window" and "window" in e:
            wins = [e["window"]]
        elif e.get("event") == "dump":
            wins = e.get("windows", [])
        elif e.get("event", "").startswith("watch") and "window" in e:
            wins = [e["window"]]
        for w in wins:
            if title is not None and w.get("title") != title:
                continue
            if cls is not None and w.get("class") != cls:
                continue
            found.append(w)
    return found


def control(window, cid):
    for c in window.get("controls", []):
        if c.get("id") == cid:
            return c
    return None


def build_package(description_text, files, out_dir, stub=STUB, name="package.exe", extra_args=()):
    """Writes a description and its files into out_dir and builds a package with tessel-pack."""
    os.makedirs(out_dir, exist_ok=True)
    for rel, content in files.items():
        path = os.path.join(out_dir, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        mode = "wb" if isinstance(content, bytes) else "w"
        with open(path, mode) as f:
            f.write(content)
    desc = os.path.join(out_dir, "package.tpk")
    with open(desc, "w") as f:
        f.write(description_text)
    out = os.path.join(out_dir, name)
    r = subprocess.run([PACK, "build", desc, "--stub", stub, "--module", MODULE, "-o", out, "-q"] + list(extra_args),
                       capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError("tessel-pack build failed: %s %s" % (r.stdout, r.stderr))
    return out


class E2ETestCase(unittest.TestCase):
    session_env = None

    @classmethod
    def setUpClass(cls):
        cls.wine_session = WineSession(cls.__name__.lower(), env=cls.session_env)

    @classmethod
    def tearDownClass(cls):
        cls.wine_session.close()


def main():
    unittest.main(verbosity=2)
