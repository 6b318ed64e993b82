#!/usr/bin/env python3
"""End-to-end tests of tessel-pack: they drive the real binary on real files.

Run: e2e_test.py --tool build/host/bin/tessel-pack --sample tools/tessel-pack/sample [unittest args]
"""

import hashlib
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

TOOL = None
SAMPLE = None

PRIMARY = "!!!E8FF0748-2339-49f9-9A79-824D7561736C"
CAB_ENTRY = "E8FF0748-2339-49f9-9A79-824D7561736C.cab"


def md5_upper(data):
    return hashlib.md5(data).hexdigest().upper()


def complement(data):
    return bytes(b ^ 0xFF for b in data)


def make_stub(path, slot=0, pe=True):
    """A minimal PE-looking image: MZ header, e_lfanew -> PE\\0\\0, the slot at 0x20."""
    image = bytearray(0x400)
    image[0:4] = b"MZ\x90\x00"
    struct.pack_into("<I", image, 0x20, slot)
    struct.pack_into("<I", image, 0x3C, 0x80)
    if pe:
        image[0x80:0x84] = b"PE\0\0"
    image[0x200:0x210] = b"stub code here!!"
    with open(path, "wb") as f:
        f.write(image)
    return bytes(image)


def make_package(stub, groups, complement_cab=True):
    """Writes a package by hand (for malformed packages the tool itself refuses to make).
    groups: list of (name, [(entry_name, body_bytes)]), headers in the given order; bodies in
    the stub's extraction order (primary first, then ordinal by name)."""
    offset = len(stub)
    out = bytearray(stub)
    struct.pack_into("<I", out, 0x20, offset)
    out += struct.pack("<I", len(groups))
    for name, entries in groups:
        n16 = name.encode("utf-16-le")
        out += struct.pack("<II", len(n16) // 2, len(entries)) + n16
        for ename, body in entries:
            e16 = ename.encode("utf-16-le")
            out += struct.pack("<II", len(e16) // 2, len(body)) + e16
    primary = [g for g in groups if g[0] == PRIMARY]
    others = sorted([g for g in groups if g[0] != PRIMARY], key=lambda g: g[0].encode("utf-16-be"))
    for _, entries in primary + others:
        for ename, body in entries:
            out += complement(body) if (complement_cab and ename.lower() == CAB_ENTRY.lower()) else body
    return bytes(out)


def cab_checksum(data, seed):
    """The CFDATA checksum of the cabinet format: XOR of little-endian 32-bit words, the tail
    bytes folded in high to low."""
    csum = seed
    whole = len(data) // 4 * 4
    for i in range(0, whole, 4):
        csum ^= struct.unpack_from("<I", data, i)[0]
    tail = data[whole:]
    ul = 0
    for b in tail:
        ul = (ul << 8) | b
    return csum ^ ul


def make_stored_cab(members):
    """An uncompressed cabinet with exactly the member names given (gcab refuses odd names)."""
    names = [n.encode("utf-8") + b"\0" for n, _ in members]
    header_size = 36
    folder_size = 8
    files_size = sum(16 + len(n) for n in names)
    data = b"".join(d for _, d in members)
    coff_files = header_size + folder_size
    coff_data = coff_files + files_size
    sizes = struct.pack("<HH", len(data), len(data))
    cdata = struct.pack("<I", cab_checksum(sizes, cab_checksum(data, 0))) + sizes + data
    total = coff_data + len(cdata)
    out = bytearray()
    out += b"MSCF" + struct.pack("<I", 0) + struct.pack("<I", total) + struct.pack("<I", 0)
    out += struct.pack("<I", coff_files) + struct.pack("<I", 0)
    out += bytes([3, 1]) + struct.pack("<HHHHH", 1, len(members), 0, 0, 0)
    out += struct.pack("<IHH", coff_data, 1, 0)
    pos = 0
    for (name, d), raw in zip(members, names):
        out += struct.pack("<IIHHHH", len(d), pos, 0, 0x5A21, 0, 0x20) + raw
        pos += len(d)
    out += cdata
    return bytes(out)


def run(*args, cwd=None):
    proc = subprocess.run([TOOL, *[str(a) for a in args]], capture_output=True, text=True, cwd=cwd)
    return proc.returncode, proc.stdout, proc.stderr


class Workspace(unittest.TestCase):
    """A scratch folder with a fake stub, a fake module beside it, and a small payload."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tessel-pack-e2e-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.stub_dir = self.path("stubdir")
        os.makedirs(self.stub_dir)
        self.stub = os.path.join(self.stub_dir, "tessel.exe")
        self.stub_bytes = make_stub(self.stub)
        self.module_bytes = b"MZ fake payload module " + os.urandom(3000)
        self.write("stubdir/UpdateModuleSetup.exe", self.module_bytes)
        self.setup_bat = b"@echo off\r\necho done> marker.txt\r\nexit /b 0\r\n"
        self.write("payload/setup.bat", self.setup_bat)
        self.write("payload/sub/readme.txt", b"read me\r\n")
        self.write("payload/sub/deeper/data.bin", os.urandom(200_000))
        self.write("MessageInfo.xml", b"<MessageInfo><ENG>Install?</ENG><JPN>\xe3\x81\xaf\xe3\x81\x84</JPN></MessageInfo>")
        self.write("extra/notes.txt", b"plain entry\n")
        self.write("extra/tool.dat", os.urandom(70_000))

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def write(self, rel, data):
        p = self.path(rel)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("utf-8"))
        return p

    def read(self, p):
        with open(p, "rb") as f:
            return f.read()

    def description(self, assist=None, message=None, extra="", codepage="1252", cabinet="folder = payload\ncompression = mszip",
                    files="MessageInfo.xml\nnotes.txt = extra/notes.txt"):
        assist = assist if assist is not None else {
            "ExecuteFileName": "setup.bat", "ParamManual": "/quiet", "ParamSRM": "", "ParamSRAU": "/silent /norestart",
            "ProductName": "Tessel Test", "ExtractPathByUser": "0", "UseHalvoCheck": "0", "Elevation": "1",
            "ShowResult": "1", "SuccessCode": "0;3010"}
        message = message if message is not None else {"IsShowMessageBox": "1", "IsOk": "0"}
        text = "# test package\n[package]\nstub = stubdir/tessel.exe\ncodepage = %s\n\n[assist]\n" % codepage
        text += "".join("%s = %s\n" % kv for kv in assist.items())
        text += "\n[message]\n" + "".join("%s = %s\n" % kv for kv in message.items())
        if cabinet is not None:
            text += "\n[cabinet]\n" + cabinet + "\n"
        if files is not None:
            text += "\n[files]\n" + files + "\n"
        text += extra
        return self.write("pkg.tpk", text)

    def build(self, desc=None, *extra, out=None):
        desc = desc or self.description()
        out = out or self.path("out.exe")
        rc, so, se = run("build", desc, "-o", out, *extra)
        return rc, so, se, out

    def inspect(self, pkg, *extra):
        rc, so, se = run("inspect", pkg, "--json", *extra)
        self.assertEqual(rc, 0, se)
        return json.loads(so)

    def entries(self, doc, group=PRIMARY):
        for g in doc["groups"]:
            if g["name"] == group:
                return g["entries"]
        self.fail("group %s not in package" % group)

    def values(self, doc, file="AssistFile.ini"):
        return {v["key"]: v["value"] for v in doc["settings"][file]["values"]}


class RoundTrip(Workspace):
    def test_build_inspect_verify_extract(self):
        self.write("pkg.tpk", "")
        desc = self.description(extra="\n[group Extras]\nextra/tool.dat\nrenamed.txt = extra/notes.txt\n\n[group !!!A]\nextra/notes.txt\n")
        rc, so, se, out = self.build(desc)
        self.assertEqual(rc, 0, se)
        self.assertNotIn("\r", se, "no progress display when stderr is not a terminal")
        package = self.read(out)

        # The stub is copied unchanged but for the slot, which points just past it.
        self.assertEqual(struct.unpack_from("<I", package, 0x20)[0], len(self.stub_bytes))
        self.assertEqual(package[:0x20], self.stub_bytes[:0x20])
        self.assertEqual(package[0x24:len(self.stub_bytes)], self.stub_bytes[0x24:])

        rc, so, se = run("verify", out)
        self.assertEqual((rc, se), (0, ""), so)
        self.assertIn("OK", so)

        doc = self.inspect(out)
        self.assertEqual(doc["problems"], [])
        self.assertEqual(doc["packageOffset"], len(self.stub_bytes))
        names = [e["name"] for e in self.entries(doc)]
        self.assertEqual(names, ["MessageSetting.ini", "AssistFile.ini", "UpdateModuleSetup.exe", "MessageInfo.xml",
                                 "notes.txt", CAB_ENTRY])
        self.assertTrue(self.entries(doc)[-1]["cabinet"])

        # Bodies follow each other in extraction order: primary, then groups by ordinal name.
        bodies = sorted(((e["offset"], e["size"], g["name"], e["name"]) for g in doc["groups"] for e in g["entries"]))
        self.assertEqual(bodies[0][0], doc["dataStart"])
        for (o1, s1, _, _), (o2, _, _, _) in zip(bodies, bodies[1:]):
            self.assertEqual(o1 + s1, o2)
        self.assertEqual(bodies[-1][0] + bodies[-1][1], len(package))
        group_order = []
        for _, _, g, _ in bodies:
            if not group_order or group_order[-1] != g:
                group_order.append(g)
        self.assertEqual(group_order, [PRIMARY, "!!!A", "Extras"])

        # Every body is the input file, the module included; the cabinet is stored complemented.
        by_name = {(g, n): (o, s) for o, s, g, n in bodies}
        def body(g, n):
            o, s = by_name[(g, n)]
            return package[o:o + s]
        self.assertEqual(body(PRIMARY, "UpdateModuleSetup.exe"), self.module_bytes)
        self.assertEqual(body(PRIMARY, "notes.txt"), self.read(self.path("extra/notes.txt")))
        self.assertEqual(body("Extras", "tool.dat"), self.read(self.path("extra/tool.dat")))
        self.assertEqual(body("Extras", "renamed.txt"), self.read(self.path("extra/notes.txt")))
        self.assertTrue(complement(body(PRIMARY, CAB_ENTRY)).startswith(b"MSCF"))

        # The settings files: ANSI, CRLF, no BOM, every non-empty value enciphered as base64.
        ini = body(PRIMARY, "AssistFile.ini")
        self.assertTrue(ini.startswith(b"[ParamOption]\r\n"))
        self.assertNotIn(b"\n", ini.replace(b"\r\n", b""))
        self.assertNotIn(b"Tessel Test", ini)
        self.assertIn(b"ParamSRM=\r\n", ini)
        for line in ini.split(b"\r\n")[1:]:
            if line and not line.endswith(b"="):
                stored = line.split(b"=", 1)[1]
                self.assertEqual(len(stored) % 4, 0)
                self.assertLessEqual(len(stored), 127)
        self.assertTrue(body(PRIMARY, "MessageSetting.ini").startswith(b"[Setting]\r\n"))

        # Decoded with the key of the module inside the package.
        self.assertEqual(doc["module"]["md5"], md5_upper(self.module_bytes))
        self.assertEqual(doc["module"]["key"], md5_upper(self.module_bytes)[:16])
        values = self.values(doc)
        self.assertEqual(values["ProductName"], "Tessel Test")
        self.assertEqual(values["ParamSRAU"], "/silent /norestart")
        self.assertEqual(values["ParamSRM"], "")
        self.assertEqual(values["SuccessCode"], "0;3010")
        self.assertEqual(values["enc_data"], md5_upper(self.setup_bat))
        self.assertEqual(self.values(doc, "MessageSetting.ini"), {"IsShowMessageBox": "1", "IsOk": "0"})
        self.assertEqual(doc["installer"], {"name": "setup.bat", "found": True, "location": "cabinet",
                                            "md5": md5_upper(self.setup_bat), "encData": md5_upper(self.setup_bat),
                                            "matches": True})
        cab_files = sorted(f["name"] for f in doc["cabinets"][0]["files"])
        self.assertEqual(cab_files, ["setup.bat", "sub\\deeper\\data.bin", "sub\\readme.txt"])
        self.assertEqual(doc["cabinets"][0]["compression"], "mszip")

        # The text view names the same things.
        rc, so, se = run("inspect", out)
        self.assertEqual(rc, 0, se)
        for text in ("Tessel Test", "matches:      yes", "(primary)", "Extras", "0x%08X" % doc["dataStart"]):
            self.assertIn(text, so)

        # Extraction gives the inputs back byte for byte.
        dest = self.path("x", "y")
        rc, so, se = run("extract", out, dest, "--expand-cabinet")
        self.assertEqual(rc, 0, se)
        self.assertEqual(self.read(os.path.join(dest, "UpdateModuleSetup.exe")), self.module_bytes)
        self.assertEqual(self.read(os.path.join(dest, "MessageInfo.xml")), self.read(self.path("MessageInfo.xml")))
        self.assertEqual(self.read(os.path.join(dest, "notes.txt")), self.read(self.path("extra/notes.txt")))
        self.assertEqual(self.read(os.path.join(dest, "Extras", "tool.dat")), self.read(self.path("extra/tool.dat")))
        self.assertEqual(self.read(os.path.join(dest, "!!!A", "notes.txt")), self.read(self.path("extra/notes.txt")))
        self.assertEqual(self.read(os.path.join(dest, "AssistFile.ini")), ini)
        for rel in ("setup.bat", "sub/readme.txt", "sub/deeper/data.bin"):
            self.assertEqual(self.read(os.path.join(dest, rel)), self.read(self.path("payload", rel)), rel)
        cab = self.read(os.path.join(dest, CAB_ENTRY))
        self.assertEqual(cab, complement(body(PRIMARY, CAB_ENTRY)))

        # Second opinion on the cabinet: cabextract tests and lists it.
        self.assertIsNotNone(shutil.which("cabextract"), "cabextract is needed (scripts/setup.sh installs it)")
        p = subprocess.run(["cabextract", "-t", os.path.join(dest, CAB_ENTRY)], capture_output=True, text=True)
        self.assertEqual(p.returncode, 0, p.stdout + p.stderr)
        self.assertIn("All done, no errors", p.stdout)
        p = subprocess.run(["cabextract", "-l", os.path.join(dest, CAB_ENTRY)], capture_output=True, text=True)
        self.assertEqual(p.returncode, 0)
        for name in ("setup.bat", "sub/readme.txt", "sub/deeper/data.bin"):
            self.assertIn(name, p.stdout)

    def test_ready_cabinet_is_stored_as_gcab_made_it(self):
        if not shutil.which("gcab"):
            self.skipTest("gcab not installed")
        cab = self.path("ready.cab")
        subprocess.run(["gcab", "-c", "-z", cab, "setup.bat", "sub/readme.txt"], cwd=self.path("payload"), check=True)
        desc = self.description(cabinet="file = ready.cab")
        rc, so, se, out = self.build(desc)
        self.assertEqual(rc, 0, se)
        doc = self.inspect(out)
        self.assertEqual(doc["problems"], [])
        self.assertEqual(self.values(doc)["enc_data"], md5_upper(self.setup_bat))
        rc, so, se = run("extract", out, self.path("x"))
        self.assertEqual(rc, 0, se)
        self.assertEqual(self.read(self.path("x", CAB_ENTRY)), self.read(cab))

    def test_installer_as_plain_entry_and_no_cabinet(self):
        self.write("inst/Setup.exe", b"MZ installer " * 100)
        desc = self.description(assist={"ExecuteFileName": "setup.EXE", "ProductName": "P"}, cabinet=None,
                                files="inst/Setup.exe")
        rc, so, se, out = self.build(desc)
        self.assertEqual(rc, 0, se)
        doc = self.inspect(out)
        self.assertEqual(doc["cabinets"], [])
        self.assertEqual(doc["installer"]["location"], "entry")
        self.assertTrue(doc["installer"]["matches"])
        self.assertEqual([e["name"] for e in self.entries(doc)][-1], "Setup.exe")
        self.assertEqual(run("verify", out)[0], 0)

    def test_explicit_matching_enc_data_and_extra_keys_are_kept(self):
        assist = {"ExecuteFileName": "setup.bat", "enc_data": md5_upper(self.setup_bat).lower(), "UseCompression": "1"}
        rc, so, se, out = self.build(self.description(assist=assist))
        self.assertEqual(rc, 0, se)
        self.assertIn("UseCompression", se, "an unknown key is worth a note")
        values = self.values(self.inspect(out))
        self.assertEqual(values["UseCompression"], "1")
        self.assertEqual(values["enc_data"], md5_upper(self.setup_bat).lower())

    def test_default_output_and_module_beside_stub(self):
        desc = self.description()
        work = self.path("cwd")
        os.makedirs(work)
        rc, so, se = run("build", desc, cwd=work)
        self.assertEqual(rc, 0, se)
        out = os.path.join(work, "pkg.exe")
        self.assertTrue(os.path.isfile(out))
        self.assertEqual(self.inspect(out)["module"]["md5"], md5_upper(self.module_bytes))

    def test_stub_option_overrides_description(self):
        other = self.path("other")
        os.makedirs(other)
        make_stub(os.path.join(other, "s.exe"))
        module2 = b"another module"
        with open(os.path.join(other, "UpdateModuleSetup.exe"), "wb") as f:
            f.write(module2)
        rc, so, se, out = self.build(None, "--stub", os.path.join(other, "s.exe"))
        self.assertEqual(rc, 0, se)
        self.assertEqual(self.inspect(out)["module"]["md5"], md5_upper(module2))


class Refusals(Workspace):
    def case_missing_file(self):
        return self.description(files="missing.xml"), [], "missing.xml"

    def case_duplicate_names(self):
        return self.description(files="MessageInfo.xml\nmessageinfo.XML = extra/notes.txt"), [], "used twice"

    def case_duplicate_group(self):
        return self.description(extra="[group G]\nextra/notes.txt\n[group G]\nextra/tool.dat\n"), [], "described twice"

    def case_unrepresentable_value(self):
        return self.description(assist={"ExecuteFileName": "setup.bat", "ProductName": "テスト"}), [], "cannot represent"

    def case_non_bare_entry(self):
        return self.description(files="a:b = extra/notes.txt"), [], "not a bare file name"

    def case_non_bare_entry_backslash(self):
        return self.description(files="sub\\x.txt = extra/notes.txt"), [], "not a bare file name"

    def case_non_bare_group(self):
        return self.description(extra="[group bad|name]\nextra/notes.txt\n"), [], "not a bare folder name"

    def case_stub_with_package(self):
        make_stub(self.stub, slot=0x400)
        return self.description(), [], "already carries a package"

    def case_stub_not_pe(self):
        make_stub(self.stub, pe=False)
        return self.description(), [], "not a Windows PE image"

    def case_stub_text_file(self):
        self.write("stubdir/tessel.exe", "just text")
        return self.description(), [], "not a Windows PE image"

    def case_output_is_stub_by_other_path(self):
        return self.description(), ["-o", self.path("stubdir", "..", "stubdir", "tessel.exe")], "same file"

    def case_output_is_hard_link_of_module(self):
        os.link(self.path("stubdir", "UpdateModuleSetup.exe"), self.path("link.exe"))
        return self.description(), ["-o", self.path("link.exe")], "same file"

    def case_entry_too_large(self):
        with open(self.path("huge.bin"), "wb") as f:
            f.truncate(1 << 32)  # sparse: 4 GiB exactly, one byte over the limit
        return self.description(files="huge.bin"), [], "4 GiB"

    def case_module_missing(self):
        os.remove(self.path("stubdir", "UpdateModuleSetup.exe"))
        return self.description(), [], "UpdateModuleSetup.exe"

    def case_installer_not_in_package(self):
        return self.description(assist={"ExecuteFileName": "absent.exe"}), [], "absent.exe"

    def case_enc_data_mismatch(self):
        return self.description(assist={"ExecuteFileName": "setup.bat", "enc_data": "0" * 32}), [], "does not match"

    def case_reserved_name(self):
        return self.description(files="assistfile.ini = extra/notes.txt"), [], "made by tessel-pack itself"

    def case_cabinet_name_in_group(self):
        return self.description(extra="[group G]\n%s = extra/notes.txt\n" % CAB_ENTRY), [], "cabinet entry"

    def case_unknown_section(self):
        return self.write("pkg.tpk", "[pakage]\nstub = x\n"), [], "unknown section"

    def case_no_stub(self):
        return self.write("pkg.tpk", "[assist]\nProductName = x\n"), [], "no stub"

    def case_empty_cabinet_folder(self):
        os.makedirs(self.path("empty"))
        return self.description(cabinet="folder = empty"), [], "holds no files"

    def case_bad_ready_cabinet(self):
        self.write("bad.cab", "not a cabinet")
        return self.description(cabinet="file = bad.cab"), [], "not a valid cabinet"

    def case_unsafe_name_in_ready_cabinet(self):
        with open(self.path("evil.cab"), "wb") as f:
            f.write(make_stored_cab([("..\\evil.txt", b"x")]))
        return self.description(assist={"ExecuteFileName": "x", "enc_data": "0" * 32}, cabinet="file = evil.cab"), [], "unsafe name"

    def test_each_refusal_names_the_problem(self):
        cases = sorted(n for n in dir(self) if n.startswith("case_"))
        self.assertGreater(len(cases), 20)
        for name in cases:
            with self.subTest(name):
                self.setUp()  # a fresh workspace per case
                desc, extra, expected = getattr(self, name)()
                out = self.path("out.exe")
                if "-o" not in extra:
                    extra = [*extra, "-o", out]
                rc, so, se = run("build", desc, *extra)
                self.assertEqual(rc, 2, "%s: rc %d, stderr %s" % (name, rc, se))
                self.assertIn("error", se)
                self.assertIn(expected, se, name)
                self.assertFalse(os.path.exists(out), "%s: no output on failure" % name)
                leftovers = [f for f in os.listdir(self.dir) if f.startswith(".out.exe")]
                self.assertEqual(leftovers, [], "%s: temporary output removed" % name)
        # The stub and the module survive the output-equals-input refusals unchanged.
        self.assertTrue(self.read(self.stub).startswith(b"MZ"))

    def test_value_length_boundary(self):
        # Values are padded to whole 16-byte blocks, so stored lengths step 24, 44, 64, 88, 108, 128:
        # 80 bytes of text store as 108 characters (fits in 127), 81 bytes as 128 (does not).
        rc, so, se, out = self.build(self.description(assist={"ExecuteFileName": "setup.bat", "ProductName": "p" * 80}))
        self.assertEqual(rc, 0, se)
        stored = {v["key"]: v["stored"] for v in self.inspect(out)["settings"]["AssistFile.ini"]["values"]}
        self.assertEqual(len(stored["ProductName"]), 108)
        self.assertEqual(self.values(self.inspect(out))["ProductName"], "p" * 80)
        os.remove(out)
        rc, so, se, out = self.build(self.description(assist={"ExecuteFileName": "setup.bat", "ProductName": "p" * 81}))
        self.assertEqual(rc, 2)
        self.assertIn("ProductName", se)
        self.assertIn("128 characters", se)
        self.assertIn("127", se)
        self.assertFalse(os.path.exists(out))
        # The limit counts stored bytes: 27 three-byte characters are 81 bytes in UTF-8 but 54 in 932.
        rc, so, se, out = self.build(self.description(assist={"ExecuteFileName": "setup.bat", "ProductName": "日" * 40},
                                                      codepage="932"))
        self.assertEqual(rc, 0, se)
        os.remove(out)
        rc, so, se, out = self.build(self.description(assist={"ExecuteFileName": "setup.bat", "ProductName": "日" * 41},
                                                      codepage="932"))
        self.assertEqual(rc, 2)
        self.assertIn("128 characters", se)

    def test_usage_errors(self):
        for args, expected in [((), "Usage"), (("frobnicate",), "unknown command"), (("build",), "missing DESCRIPTION"),
                               (("build", "a", "--bogus"), "unknown option"), (("extract", "p"), "PACKAGE and DIR"),
                               (("inspect", "p", "--codepage", "99999"), "not supported"),
                               (("build", "a", "-o"), "needs a value")]:
            with self.subTest(args):
                rc, so, se = run(*args)
                self.assertEqual(rc, 2)
                self.assertIn(expected, se)


class CodePages(Workspace):
    def test_932_round_trip(self):
        product = "テスト製品 ～ 第２版"
        params = "/lang=日本語 /quiet"
        rc, so, se, out = self.build(self.description(
            assist={"ExecuteFileName": "setup.bat", "ProductName": product, "ParamManual": params}, codepage="932"))
        self.assertEqual(rc, 0, se)
        doc = self.inspect(out, "--codepage", "932")
        self.assertEqual(doc["problems"], [])
        self.assertEqual(self.values(doc)["ProductName"], product)
        self.assertEqual(self.values(doc)["ParamManual"], params)
        self.assertEqual(run("verify", out, "--codepage", "932")[0], 0)
        # Without --codepage, inspect reads the code page the package records (Shift-JIS bytes
        # are mostly valid 1252 too, so a guess would show them garbled).
        doc = self.inspect(out)
        self.assertEqual(self.values(doc)["ProductName"], product)
        self.assertEqual((doc["codePage"], doc["codePageRecorded"]), ("932", True))
        self.assertEqual(self.values(doc)["TesselCodePage"], "932")
        # A character Shift-JIS lacks is refused.
        os.remove(out)
        rc, so, se, out = self.build(self.description(assist={"ExecuteFileName": "setup.bat", "ProductName": "5 €"},
                                                      codepage="932"))
        self.assertEqual(rc, 2)
        self.assertIn("'€'", se)
        self.assertIn("932", se)

    def test_1252_accents(self):
        rc, so, se, out = self.build(self.description(assist={"ExecuteFileName": "setup.bat", "ProductName": "Créé – 5 €"}))
        self.assertEqual(rc, 0, se)
        doc = self.inspect(out, "--codepage", "1252")
        self.assertEqual(self.values(doc)["ProductName"], "Créé – 5 €")
        self.assertEqual(doc["codePage"], "1252")


class Verify(Workspace):
    def built(self):
        rc, so, se, out = self.build()
        self.assertEqual(rc, 0, se)
        return out, self.read(out)

    def verify_lines(self, data):
        p = self.write("bad.exe", data)
        rc, so, se = run("verify", p)
        return rc, so

    def test_detects_damage(self):
        out, data = self.built()
        doc = self.inspect(out)
        module = [e for e in self.entries(doc) if e["name"] == "UpdateModuleSetup.exe"][0]
        cab = [e for e in self.entries(doc) if e["cabinet"]][0]

        # Truncated: the index promises more than the file holds.
        rc, so = self.verify_lines(data[:-10])
        self.assertEqual(rc, 1)
        self.assertIn("truncated", so)

        # A changed module changes the settings key: values no longer decode (or decode to noise),
        # so enc_data cannot match.
        changed = bytearray(data)
        changed[module["offset"] + 5] ^= 0x55
        rc, so = self.verify_lines(bytes(changed))
        self.assertEqual(rc, 1)
        self.assertTrue("does not decode" in so or "enc_data" in so or "not in the package" in so, so)

        # A damaged cabinet: a flipped byte in its compressed data.
        changed = bytearray(data)
        changed[cab["offset"] + cab["size"] - 20] ^= 0xFF
        rc, so = self.verify_lines(bytes(changed))
        self.assertEqual(rc, 1)
        self.assertIn("cabinet", so)

        # The bare stub: no package.
        rc, so = self.verify_lines(self.stub_bytes)
        self.assertEqual(rc, 1)
        self.assertIn("no package", so)

        # Every problem is on its own line, prefixed by the file.
        for line in so.strip().splitlines():
            self.assertTrue(line.startswith(self.path("bad.exe")), line)

    def test_detects_bad_order_and_missing_entries(self):
        out, data = self.built()
        dest = self.path("parts")
        self.assertEqual(run("extract", out, dest)[0], 0)
        part = lambda n: self.read(os.path.join(dest, n))
        cab = part(CAB_ENTRY)
        base = [("MessageSetting.ini", part("MessageSetting.ini")), ("AssistFile.ini", part("AssistFile.ini")),
                ("UpdateModuleSetup.exe", self.module_bytes)]
        cases = [
            ("cabinet before AssistFile.ini", [base[0], (CAB_ENTRY, cab), base[1], base[2]],
             "AssistFile.ini comes after"),
            ("module after another file", [base[0], base[1], ("x.txt", b"x"), base[2], (CAB_ENTRY, cab)],
             "UpdateModuleSetup.exe comes after"),
            ("no module", [base[0], base[1], (CAB_ENTRY, cab)], "UpdateModuleSetup.exe is missing"),
            ("no AssistFile.ini", [base[0], base[2], (CAB_ENTRY, cab)], "AssistFile.ini is missing"),
            ("same name twice", base + [("a.txt", b"1"), ("A.TXT", b"2"), (CAB_ENTRY, cab)], "occurs twice"),
        ]
        for label, entries, expected in cases:
            with self.subTest(label):
                rc, so = self.verify_lines(make_package(self.stub_bytes, [(PRIMARY, entries)]))
                self.assertEqual(rc, 1, so)
                self.assertIn(expected, so)
        # The hand-made writer agrees with the tool: the proper order verifies.
        rc, so = self.verify_lines(make_package(self.stub_bytes, [(PRIMARY, base + [(CAB_ENTRY, cab)])]))
        self.assertEqual(rc, 0, so)
        # No primary group.
        rc, so = self.verify_lines(make_package(self.stub_bytes, [("Other", base)]))
        self.assertEqual(rc, 1)
        self.assertIn("primary group", so)

    def test_unreadable_file_is_exit_2(self):
        rc, so, se = run("verify", self.path("nope.exe"))
        self.assertEqual(rc, 2)
        self.assertIn("nope.exe", se)


class ExtractSafety(Workspace):
    def package_with_cab(self, cab_bytes):
        p = self.write("evil.exe", make_package(self.stub_bytes, [
            (PRIMARY, [("AssistFile.ini", b"[ParamOption]\r\n"), ("UpdateModuleSetup.exe", b"m"), (CAB_ENTRY, cab_bytes)])]))
        return p

    def test_refuses_unsafe_cabinet_members(self):
        for member in ["..\\evil.txt", "sub\\..\\..\\evil.txt", "\\abs.txt", "C:\\evil.txt", "c:evil.txt"]:
            with self.subTest(member):
                cab = make_stored_cab([("ok.txt", b"fine"), (member, b"evil")])
                if shutil.which("cabextract"):  # the hand-made cabinet is a real one (RoundTrip requires cabextract)
                    c = self.write("check.cab", cab)
                    self.assertEqual(subprocess.run(["cabextract", "-l", c], capture_output=True).returncode, 0)
                pkg = self.package_with_cab(cab)
                dest = self.path("d", "e")
                rc, so, se = run("extract", pkg, dest, "--expand-cabinet")
                self.assertEqual(rc, 2, se)
                self.assertIn("unsafe name", se)
                for root in (dest, self.path("d"), self.dir, "/"):
                    self.assertFalse(os.path.exists(os.path.join(root, "evil.txt")))
                self.assertFalse(os.path.exists(self.path("abs.txt")))
                shutil.rmtree(self.path("d"), ignore_errors=True)
                # verify expands into a private temporary folder: it reports the name, writes nothing beside it.
                tmp = self.path("tmp")
                os.makedirs(tmp, exist_ok=True)
                p = subprocess.run([TOOL, "verify", pkg], capture_output=True, text=True, env={**os.environ, "TMPDIR": tmp})
                self.assertEqual(p.returncode, 1)
                self.assertIn("unsafe name", p.stdout)
                self.assertEqual(os.listdir(tmp), [])

    def test_refuses_symlinks_at_the_target(self):
        rc, so, se, out = self.build()
        self.assertEqual(rc, 0, se)
        victim = self.write("victim.txt", "keep me")
        dest = self.path("dest")
        os.makedirs(dest)
        os.symlink(victim, os.path.join(dest, "AssistFile.ini"))
        rc, so, se = run("extract", out, dest)
        self.assertEqual(rc, 2)
        self.assertIn("symbolic link", se)
        self.assertEqual(self.read(victim), b"keep me")

        # A link standing in for a folder of the cabinet is refused too.
        dest2 = self.path("dest2")
        os.makedirs(dest2)
        os.makedirs(self.path("elsewhere"))
        os.symlink(self.path("elsewhere"), os.path.join(dest2, "sub"))
        rc, so, se = run("extract", out, dest2, "--expand-cabinet")
        self.assertEqual(rc, 2)
        self.assertIn("symbolic link", se)
        self.assertEqual(os.listdir(self.path("elsewhere")), [])

    def test_refuses_bad_entry_names(self):
        for name in ["../up.txt", "a/b.txt", "..", "c:x"]:
            with self.subTest(name):
                p = self.write("bad.exe", make_package(self.stub_bytes, [
                    (PRIMARY, [("AssistFile.ini", b""), ("UpdateModuleSetup.exe", b"m"), (name, b"x")])]))
                rc, so, se = run("extract", p, self.path("out"))
                self.assertEqual(rc, 2)
                self.assertTrue("not a bare" in se or "bare file name" in se, se)
                self.assertFalse(os.path.exists(self.path("up.txt")))
                self.assertFalse(os.path.exists(self.path("out", "a")))
        rc, so, se = run("extract", self.stub, self.path("out"))
        self.assertEqual(rc, 2)
        self.assertIn("no package", se)


class Sample(Workspace):
    def test_sample_builds_and_verifies(self):
        out = self.path("TesselSample.exe")
        rc, so, se = run("build", os.path.join(SAMPLE, "sample.tpk"), "--stub", self.stub, "-o", out)
        self.assertEqual(rc, 0, se)
        doc = self.inspect(out)
        self.assertEqual(doc["problems"], [])
        values = self.values(doc)
        self.assertEqual(values["ProductName"], "Tessel Sample")
        self.assertEqual(values["ShowResult"], "1")
        self.assertEqual(values["SuccessCode"], "0;3010")
        self.assertEqual(values["ExecuteFileName"], "setup.bat")
        self.assertEqual(self.values(doc, "MessageSetting.ini"), {"IsShowMessageBox": "1", "IsOk": "0"})
        self.assertEqual(doc["module"]["md5"], md5_upper(self.module_bytes), "module taken from beside the stub")
        self.assertTrue(doc["installer"]["matches"])
        rc, so, se = run("extract", out, self.path("x"), "--expand-cabinet")
        self.assertEqual(rc, 0, se)
        bat = self.read(self.path("x", "setup.bat"))
        self.assertIn(b"exit /b 0", bat)
        self.assertIn(b"\r\n", bat)
        import xml.etree.ElementTree as ET
        root = ET.parse(self.path("x", "MessageInfo.xml")).getroot()
        self.assertEqual(root.tag, "MessageInfo")
        self.assertTrue(root.find("ENG").text.strip())
        self.assertTrue(root.find("JPN").text.strip())


class Help(unittest.TestCase):
    def test_help_everywhere(self):
        for args in [("--help",), ("help",), ("build", "--help"), ("inspect", "-h"), ("verify", "--help"),
                     ("extract", "--help"), ("help", "extract")]:
            with self.subTest(args):
                rc, so, se = run(*args)
                self.assertEqual(rc, 0)
                self.assertIn("Usage: tessel-pack", so)
                self.assertIn("Exit status", so)
        rc, so, se = run("--help")
        for code in ("0 ", "1 ", "2 "):
            self.assertIn("  " + code, so)


if __name__ == "__main__":
    args = sys.argv[1:]
    def take(flag):
        i = args.index(flag)
        value = args[i + 1]
        del args[i:i + 2]
        return value
    TOOL = os.path.abspath(take("--tool"))
    SAMPLE = os.path.abspath(take("--sample"))
    unittest.main(argv=[sys.argv[0], *args], verbosity=2)
