"""Helpers for the install-run tests: packages with a chosen module, packages written byte by byte,
the exitwith log, and the state of the work folders after a run."""
import hashlib
import json
import os
import struct
import subprocess

import tessel_e2e as e2e

PRIMARY_GROUP = "!!!E8FF0748-2339-49f9-9A79-824D7561736C"
CABINET_ENTRY = "E8FF0748-2339-49f9-9A79-824D7561736C.cab"
WORK_ROOT = r"C:\ProgramData\Halvo Corporation\Halvo Bundrel\PackagingTemp"


def md5_hex(data_or_path):
    if isinstance(data_or_path, bytes):
        return hashlib.md5(data_or_path).hexdigest()
    with open(data_or_path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


def description(assist, message=None, files=(), cabinet_folder=None):
    """A tessel-pack description from dicts; values are written in quotes so blanks and '|' survive."""
    lines = ["[package]", "codepage = 1252", "", "[assist]"]
    for key, value in assist.items():
        lines.append('%s = "%s"' % (key, value) if value != "" else "%s =" % key)
    if message:
        lines += ["", "[message]"] + ["%s = %s" % kv for kv in message.items()]
    if cabinet_folder:
        lines += ["", "[cabinet]", "folder = %s" % cabinet_folder]
    if files:
        lines += ["", "[files]"] + list(files)
    return "\n".join(lines) + "\n"


def build(description_text, files, out_dir, module=e2e.MODULE, name="package.exe"):
    """Like tessel_e2e.build_package, with the payload module chosen by the caller (any file will do:
    the settings are keyed by its checksum)."""
    os.makedirs(out_dir, exist_ok=True)
    for rel, content in files.items():
        path = os.path.join(out_dir, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb" if isinstance(content, bytes) else "w") as f:
            f.write(content)
    desc = os.path.join(out_dir, name + ".tpk")
    with open(desc, "w") as f:
        f.write(description_text)
    out = os.path.join(out_dir, name)
    r = subprocess.run([e2e.PACK, "build", desc, "--stub", e2e.STUB, "--module", module, "-o", out, "-q"],
                       capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError("tessel-pack build failed: %s %s" % (r.stdout, r.stderr))
    return out


def inspect(package):
    r = subprocess.run([e2e.PACK, "inspect", package, "--json"], capture_output=True, text=True, check=True)
    return json.loads(r.stdout)


def corrupt_entry(package, entry_name):
    """Flips one byte in the middle of a plain entry's body inside a built package, so that the file
    the stub writes no longer matches the checksum that was recorded for it."""
    info = inspect(package)
    for group in info["groups"]:
        for entry in group["entries"]:
            if entry["name"] == entry_name:
                assert entry["size"] > 0 and not entry["cabinet"], entry
                at = entry["offset"] + entry["size"] // 2
                with open(package, "r+b") as f:
                    f.seek(at)
                    b = f.read(1)
                    f.seek(at)
                    f.write(bytes([b[0] ^ 0x5A]))
                return
    raise KeyError(entry_name)


def write_raw_package(out, groups, stub=e2e.STUB):
    """Appends a package to a copy of the stub, written by hand: groups is a list of (name, entries)
    with entries a list of (file name, body bytes). The primary group's bodies come first, the rest
    in ordinal order of their group names; a cabinet entry's body is stored complemented."""
    with open(stub, "rb") as f:
        image = bytearray(f.read())
    assert image[:2] == b"MZ" and image[0x20:0x24] == b"\0\0\0\0"
    offset = len(image)

    def name16(text):
        return text.encode("utf-16-le")

    pkg = bytearray(struct.pack("<I", len(groups)))
    for gname, entries in groups:
        pkg += struct.pack("<II", len(gname), len(entries)) + name16(gname)
        for ename, body in entries:
            pkg += struct.pack("<II", len(ename), len(body)) + name16(ename)
    ordered = sorted(groups, key=lambda g: (g[0] != PRIMARY_GROUP, [ord(c) for c in g[0]]))
    for gname, entries in ordered:
        for ename, body in entries:
            pkg += bytes(b ^ 0xFF for b in body) if ename.lower() == CABINET_ENTRY.lower() else body
    image[0x20:0x24] = struct.pack("<I", offset)
    with open(out, "wb") as f:
        f.write(image + pkg)
    return out


def ini(section, values):
    """An INI file in code page 1252 with CRLF line ends, values as given (no enciphering)."""
    text = "[%s]\r\n" % section + "".join("%s=%s\r\n" % kv for kv in values.items())
    return text.encode("cp1252")


def read_log(path):
    """The lines exitwith.exe appended to its log, as dicts; [] when it never ran."""
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [json.loads(line) for line in f if line.strip()]


def launch_line(record):
    """The parameter text of a process started by ShellExecuteEx: its raw command line without the
    program name (quoted or not) and the one blank after it."""
    cmd = record["cmdline"]
    if cmd.startswith('"'):
        end = cmd.index('"', 1) + 1
    else:
        end = cmd.find(" ")
        end = len(cmd) if end < 0 else end
    rest = cmd[end:]
    assert rest == "" or rest.startswith(" "), cmd
    return rest[1:]


def leftovers(session):
    """What is left under PackagingTemp: None when the folder is gone, else {run folder: [its items]}."""
    root = session.work_root()
    if not os.path.isdir(root):
        return None
    out = {}
    for name in sorted(os.listdir(root)):
        path = os.path.join(root, name)
        out[name] = sorted(os.listdir(path)) if os.path.isdir(path) else "<file>"
    return out


def reg_default(session, key, kind, data):
    """Sets the default value of a key (reg add /ve)."""
    r = session.wine("reg", "add", key, "/ve", "/t", kind, "/d", data, "/f")
    if r.returncode != 0:
        raise RuntimeError("reg add /ve failed: %s %s" % (r.stdout, r.stderr))


def start_xvfb(attempts=8):
    """An X server of our own on a free display, checked to be still running a moment after it
    started: a server started with -displayfd next to other test runs was seen to die soon after
    it had answered, which leaves every later window creation failing (the stub then ends at once)."""
    import random
    import subprocess as sp
    import time
    for _ in range(attempts):
        display = random.randint(200, 9000)
        if os.path.exists("/tmp/.X%d-lock" % display):
            continue
        proc = sp.Popen(["Xvfb", ":%d" % display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                        stdout=sp.DEVNULL, stderr=sp.DEVNULL)
        deadline = time.time() + 10
        while time.time() < deadline and proc.poll() is None and \
                not os.path.exists("/tmp/.X11-unix/X%d" % display):
            time.sleep(0.05)
        time.sleep(0.5)
        if proc.poll() is None and os.path.exists("/tmp/.X11-unix/X%d" % display):
            return proc, ":%d" % display
        proc.kill()
        proc.wait()
    raise RuntimeError("no X server could be started")


def stop_xvfb(proc):
    if proc and proc.poll() is None:
        proc.terminate()
        proc.wait()
