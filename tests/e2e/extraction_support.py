"""Helpers for the extraction tests: packages laid out in orders tessel-pack refuses to write, a
small drive backed by a tmpfs, and what an installer left behind in its probe folder."""
import hashlib
import os
import struct
import subprocess

import tessel_e2e as e2e

PRIMARY = "!!!E8FF0748-2339-49f9-9A79-824D7561736C"
CABINET = "E8FF0748-2339-49f9-9A79-824D7561736C.cab"
PROBE = r"C:\ProgramData\probe"
INSTALL_LOG = PROBE + r"\exitwith.log"
RUN_FOLDER_RE = (r"^C:\\ProgramData\\Halvo Corporation\\Halvo Bundrel\\PackagingTemp\\"
                 r"\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}\\?$")

# Lists the run folder before the clean-up removes it, then runs the logging installer beside it.
LISTING_BAT = (
    "@echo off\r\n"
    'dir /b "%~dp0" > ' + PROBE + "\\listing.txt\r\n"
    'if exist "%~dp0sub" dir /b "%~dp0sub" > ' + PROBE + "\\sub.txt\r\n"
    'if exist "%~dp0Extra" dir /b "%~dp0Extra" > ' + PROBE + "\\extra.txt\r\n"
    '"%~dp0exitwith.exe" 0\r\n'
    "exit /b %errorlevel%\r\n")


def md5_upper(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest().upper()


def description(assist, message=None, cabinet=None, files=(), groups=None):
    """A tessel-pack description: assist/message are dicts, cabinet a folder, files and groups name paths."""
    lines = ["[assist]"] + ["%s = %s" % kv for kv in assist.items()]
    lines += ["", "[message]"] + ["%s = %s" % kv for kv in (message or {"IsShowMessageBox": "0"}).items()]
    if cabinet:
        lines += ["", "[cabinet]", "folder = %s" % cabinet]
    if files:
        lines += ["", "[files]"] + list(files)
    for name, paths in (groups or {}).items():
        lines += ["", "[group %s]" % name] + list(paths)
    return "\n".join(lines) + "\n"


def assist(**values):
    """AssistFile.ini values for a quiet package: no result box, no question, nothing picked or checked."""
    base = {"ExecuteFileName": "exitwith.exe", "ParamManual": "0", "ProductName": "Extraction Test",
            "ExtractPathByUser": "0", "UseHalvoCheck": "0", "Elevation": "0", "ShowResult": "0",
            "SuccessCode": "0"}
    base.update(values)
    return base


# ---- The package container, read and written directly --------------------------------------------

def read_package(path):
    """(stub bytes, [(group, [(entry, body)])]) of a package; the cabinet body comes back unscrambled."""
    with open(path, "rb") as f:
        data = f.read()
    offset = struct.unpack_from("<I", data, 0x20)[0]
    pos = offset
    (count,) = struct.unpack_from("<I", data, pos)
    pos += 4
    headers = []
    for _ in range(count):
        nlen, ecount = struct.unpack_from("<II", data, pos)
        pos += 8
        name = data[pos:pos + 2 * nlen].decode("utf-16-le")
        pos += 2 * nlen
        entries = []
        for _ in range(ecount):
            elen, size = struct.unpack_from("<II", data, pos)
            pos += 8
            entries.append((data[pos:pos + 2 * elen].decode("utf-16-le"), size))
            pos += 2 * elen
        headers.append((name, entries))
    groups = []
    for name, entries in sorted(headers, key=lambda h: (h[0] != PRIMARY, h[0].encode("utf-16-be"))):
        bodies = []
        for ename, size in entries:
            body = data[pos:pos + size]
            pos += size
            if ename == CABINET:
                body = bytes(b ^ 0xFF for b in body)
            bodies.append((ename, body))
        groups.append((name, bodies))
    return data[:offset], groups


def write_package(stub, groups, out):
    """Lays the groups out as given (header order as listed; bodies primary first, then by ordinal
    name) after the stub and points the slot at 0x20 at them."""
    image = bytearray(stub)
    struct.pack_into("<I", image, 0x20, len(stub))
    pkg = bytearray(struct.pack("<I", len(groups)))
    for name, entries in groups:
        raw = name.encode("utf-16-le")
        pkg += struct.pack("<II", len(raw) // 2, len(entries)) + raw
        for ename, body in entries:
            eraw = ename.encode("utf-16-le")
            pkg += struct.pack("<II", len(eraw) // 2, len(body)) + eraw
    for name, entries in sorted(groups, key=lambda g: (g[0] != PRIMARY, g[0].encode("utf-16-be"))):
        for ename, body in entries:
            pkg += bytes(b ^ 0xFF for b in body) if ename == CABINET else body
    with open(out, "wb") as f:
        f.write(bytes(image) + bytes(pkg))
    return out


def reorder(package, out, order):
    """A copy of package whose primary group holds its entries in the given order of names
    (each name as it is to be written; matched to the original without regard to case)."""
    stub, groups = read_package(package)
    result = []
    for name, entries in groups:
        if name == PRIMARY:
            by_name = {e.lower(): body for e, body in entries}
            entries = [(n, by_name[n.lower()]) for n in order]
        result.append((name, entries))
    return write_package(stub, result, out)


def entry_region(package, entry):
    """(offset, size) of an entry's body in the package file."""
    with open(package, "rb") as f:
        data = f.read()
    stub, groups = read_package(package)
    header = 4 + sum(8 + 2 * len(g) + sum(8 + 2 * len(e) for e, _ in es) for g, es in groups)
    pos = len(stub) + header
    for _, entries in groups:
        for ename, body in entries:
            if ename == entry:
                return pos, len(body)
            pos += len(body)
    raise KeyError(entry)


# ---- A small drive D: on a tmpfs ------------------------------------------------------------------

class TmpfsDrive:
    """A tmpfs of a chosen size seen by Wine as drive D:. Needs root (mount)."""

    def __init__(self, session, letter="d"):
        self.session = session
        self.dir = os.path.join(session.root, "drive_" + letter)
        self.link = os.path.join(session.prefix, "dosdevices", letter + ":")
        self.mounted = False

    def mount(self, size_bytes):
        os.makedirs(self.dir, exist_ok=True)
        opts = "size=%d" % size_bytes
        if self.mounted:
            subprocess.run(["umount", self.dir], check=True)
            self.mounted = False
        subprocess.run(["mount", "-t", "tmpfs", "-o", opts, "tmpfs", self.dir], check=True)
        self.mounted = True
        if os.path.lexists(self.link):
            os.unlink(self.link)
        os.symlink(self.dir, self.link)
        # Wine looks at its drive links when it starts: a new letter needs a fresh wineserver.
        self.session.restart()
        return self

    def free(self):
        st = os.statvfs(self.dir)
        return st.f_bavail * st.f_frsize

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def unmount(self):
        if os.path.lexists(self.link):
            os.unlink(self.link)
        if self.mounted:
            subprocess.run(["umount", self.dir])
            self.mounted = False


# ---- Observations -----------------------------------------------------------------------------------

read_lines = e2e.read_lines


def leftover_files(session):
    """Every file left under PackagingTemp (folders alone do not count)."""
    found = []
    for dirpath, _, names in os.walk(session.work_root()):
        found += [os.path.join(dirpath, n) for n in names]
    return found


def robot_detached(session, program, steps, timeout=180):
    """Like WineSession.robot, for runs that ask the shell to open a folder: the window the shell
    starts inherits the robot's output, so the transcript goes to a file rather than a pipe, and
    the session is restarted afterwards to close that window."""
    import json
    import tempfile
    cmd = [e2e.WINE64, e2e.ROBOT]
    for step in steps:
        cmd += ["--step", step]
    cmd += ["--", program]
    with tempfile.TemporaryFile(mode="w+", encoding="utf-8", errors="replace") as out:
        proc = subprocess.Popen(cmd, env=session.env, stdout=out, stderr=subprocess.DEVNULL,
                                stdin=subprocess.DEVNULL)
        try:
            proc.wait(timeout=timeout)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            session.restart()
        out.seek(0)
        events = []
        for line in out.read().splitlines():
            line = line.strip()
            if line.startswith("{"):
                try:
                    events.append(json.loads(line))
                except json.JSONDecodeError:
                    pass
        return events
