"""The extraction run: the work folder, the package's shapes, the folder dialog, free space, the
environment checks, a missing cabinet library and damaged packages."""
import json
import os
import shutil

import tessel_e2e as e2e
import extraction_support as xs

ARTIFACTS = os.path.join(e2e.BUILD, "artifacts")
PROGRESS = 'wait-window --title "Halvo Bundrel" --any-size --timeout 20000'
EXIT = "wait-exit --timeout 60000"
BROWSE = "Browse for Folder"

NO_SPACE_D = ("There is not enough space on Local Disk (D:). Increase the amount of free space and try again.")
NOT_HALVO = ("This program runs on Halvo computers only. \nThis computer is not recognized as a Halvo computer.")
CANT_EXTRACT = "Can't Extract files!"
FAILED_1003 = "Setup failed.(Error Code: 1003)"


def texts(window):
    return [c.get("text", "") for c in window.get("controls", [])]


def artifact(name):
    os.makedirs(ARTIFACTS, exist_ok=True)
    return e2e.winpath(os.path.join(ARTIFACTS, name))


class ExtractionCase(e2e.E2ETestCase):
    session_env = {"TESSEL_EXITWITH_LOG": xs.INSTALL_LOG}

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.wine_session.wine("cmd", "/c", "ver")  # the first start of a fresh clone updates the prefix

    def fresh_probe(self):
        probe = self.wine_session.host_path(xs.PROBE)
        shutil.rmtree(probe, ignore_errors=True)
        os.makedirs(probe)

    def setUp(self):
        s = self.wine_session
        self.fresh_probe()
        self.out = os.path.join(s.root, "packages", self.id().rsplit(".", 1)[-1])
        shutil.rmtree(self.out, ignore_errors=True)
        os.makedirs(self.out)

    # --- packages
    def payload_files(self):
        """A cabinet folder with the listing installer, the logging installer and a sub-folder."""
        with open(e2e.EXITWITH, "rb") as f:
            installer = f.read()
        return {"payload/install.bat": xs.LISTING_BAT, "payload/exitwith.exe": installer,
                "payload/sub/nested.txt": "nested\r\n"}

    def build(self, assist, cabinet=True, files=None, extra_files=(), groups=None, name="package.exe"):
        content = dict(self.payload_files() if cabinet else {})
        content.update(files or {})
        desc = xs.description(assist, cabinet="payload" if cabinet else None, files=extra_files, groups=groups)
        return e2e.build_package(desc, content, self.out, name=name)

    def place(self, package, name="package.exe"):
        """Copies a package into C:\\Pkg of the prefix; returns its Windows path."""
        win = r"C:\Pkg" + "\\" + name
        host = self.wine_session.host_path(win)
        os.makedirs(os.path.dirname(host), exist_ok=True)
        shutil.copy2(package, host)
        return win

    # --- runs
    def run_stub(self, program, steps=(PROGRESS, EXIT), args=(), detached=False):
        if detached:
            events = xs.robot_detached(self.wine_session, program, list(steps))
        else:
            events = self.wine_session.robot(program, args=list(args), steps=list(steps))
        self.assertEqual(0, e2e.exit_code(events), json.dumps(events)[-3000:])
        return events

    def installs(self):
        return [json.loads(line) for line in xs.read_lines(self.wine_session, xs.INSTALL_LOG)]

    def assertLaunched(self, events):
        self.assertEqual(1, len(self.installs()), json.dumps(events)[-3000:])

    def assertNotLaunched(self, events):
        self.assertEqual([], self.installs(), json.dumps(events)[-3000:])

    def assertWorkEmpty(self):
        self.assertEqual([], xs.leftover_files(self.wine_session))

    def assertBox(self, events, title, text):
        boxes = [w for w in e2e.windows_of(events, title=title) if any(text == t for t in texts(w))]
        self.assertTrue(boxes, "no box %r with %r in %s" % (title, text, json.dumps(events)[-3000:]))
        return boxes[0]


    def browse_steps(self, pick, shot=None):
        """Steps that wait for the folder dialog and pick a folder (None: cancel), then the exit."""
        steps = ['wait-window --title "%s" --timeout 20000' % BROWSE]
        if shot:
            steps.append('screenshot --window "title=%s" "%s"' % (BROWSE, artifact(shot)))
        if pick is None:
            steps.append('press --window "title=%s" --button Cancel' % BROWSE)
        else:
            steps.append('browse-select --window "title=%s" --path "%s"' % (BROWSE, pick))
        return steps

    def warning_steps(self, text_shot, title="Halvo Bundrel"):
        """Steps that wait for a box of the given caption, photograph it and press its button."""
        sel = "class=#32770;title=%s" % title
        return ['wait-window --window "%s" --timeout 30000' % sel,
                'screenshot --window "%s" "%s"' % (sel, artifact(text_shot)),
                'press --window "%s" --button OK' % sel]


class ShippedShapeTest(ExtractionCase):
    def test_shipped_shape_expands_into_the_run_folder_and_installs_from_it(self):
        pkg = self.place(self.build(xs.assist(ExecuteFileName="install.bat")))
        events = self.run_stub(pkg)
        runs = self.installs()
        self.assertEqual(1, len(runs), events)
        cwd = runs[0]["cwd"]
        self.assertRegex(cwd, xs.RUN_FOLDER_RE)
        listing = xs.read_lines(self.wine_session, xs.PROBE + r"\listing.txt")
        # The installer and its neighbour came out of the cabinet, beside the three fixed files;
        # the cabinet itself is gone.
        for name in ("MessageSetting.ini", "AssistFile.ini", "UpdateModuleSetup.exe", "install.bat", "exitwith.exe",
                     "sub"):
            self.assertIn(name, listing)
        self.assertNotIn(xs.CABINET.lower(), [n.lower() for n in listing])
        self.assertEqual(["nested.txt"], xs.read_lines(self.wine_session, xs.PROBE + r"\sub.txt"))
        # After the run the run folder is empty (or gone).
        run_dir = self.wine_session.host_path(cwd.rstrip("\\"))
        self.assertEqual([], os.listdir(run_dir) if os.path.isdir(run_dir) else [])
        self.assertWorkEmpty()

    def test_other_groups_land_in_the_run_folder(self):
        pkg = self.place(self.build(xs.assist(ExecuteFileName="install.bat"),
                                    files={"extra.txt": "e", "beta.txt": "b"},
                                    groups={"Extra": ["extra.txt"], "Beta": ["beta.txt"]}))
        events = self.run_stub(pkg)
        self.assertLaunched(events)
        listing = xs.read_lines(self.wine_session, xs.PROBE + r"\listing.txt")
        self.assertIn("Extra", listing)
        self.assertIn("Beta", listing)
        self.assertEqual(["extra.txt"], xs.read_lines(self.wine_session, xs.PROBE + r"\extra.txt"))
        self.assertWorkEmpty()

    def test_entry_orders_decide_when_settings_can_be_read(self):
        # ExtractPathByUser is "1": wherever the settings decode at the settings step, the folder
        # dialog opens (the install is then not launched); where they cannot be read or decoded yet,
        # there is no dialog and the run installs.
        base = self.build(xs.assist(ExtractPathByUser="1"))
        ms, af, mod, cab = "MessageSetting.ini", "AssistFile.ini", "UpdateModuleSetup.exe", xs.CABINET
        cases = [
            ("cabinet before AssistFile.ini", [cab, ms, af, mod], False),
            ("cabinet between AssistFile.ini and the module", [ms, af, cab, mod], False),
            ("module named in other case", [ms, af, "uPDATEmODULEsETUP.EXE", cab], True),
        ]
        for label, order, dialog in cases:
            with self.subTest(label):
                self.fresh_probe()
                pkg = self.place(xs.reorder(base, os.path.join(self.out, "reordered.exe"), order))
                if dialog:
                    events = self.run_stub(pkg, self.browse_steps(None) + [EXIT])
                    self.assertTrue(e2e.windows_of(events, title=BROWSE))
                    self.assertNotLaunched(events)
                else:
                    events = self.run_stub(pkg, [PROGRESS, "wait-exit --timeout 30000"])
                    self.assertFalse(e2e.windows_of(events, title=BROWSE))
                    self.assertLaunched(events)
                self.assertWorkEmpty()

    def test_package_without_cabinet_has_no_settings_step(self):
        # Only the fixed files: no folder dialog although ExtractPathByUser is "1", and the progress
        # window never shows. The installer is the module itself, told to run the logging installer.
        s = self.wine_session
        shutil.copy2(e2e.EXITWITH, s.host_path(xs.PROBE + r"\ew.exe"))
        pkg = self.place(self.build(
            xs.assist(ExtractPathByUser="1", ExecuteFileName="UpdateModuleSetup.exe",
                      ParamManual=r"No|%s\ew.exe|0" % xs.PROBE, enc_data=xs.md5_upper(e2e.MODULE)),
            cabinet=False))
        events = self.run_stub(pkg, [PROGRESS, "watch --interval 100 --duration 2500", EXIT])
        self.assertFalse(e2e.windows_of(events, title=BROWSE))
        shown = [w for w in e2e.windows_of(events, title="Halvo Bundrel") if w.get("client", {}).get("w", 0) > 0]
        self.assertEqual([], shown, "the progress window must stay collapsed")
        self.assertLaunched(events)
        self.assertEqual(["0"], self.installs()[0]["argv"][1:])
        self.assertWorkEmpty()


class ChecksAndFailuresTest(ExtractionCase):
    def corrupt_cabinet(self, base):
        stub, groups = xs.read_package(base)
        groups = [(g, [(e, (b"not a cabinet " * 200) if e == xs.CABINET else body) for e, body in entries])
                  for g, entries in groups]
        return xs.write_package(stub, groups, os.path.join(self.out, "corrupt.exe"))

    def cut(self, base, at, name):
        out = os.path.join(self.out, name)
        with open(base, "rb") as f:
            data = f.read()
        with open(out, "wb") as f:
            f.write(data[:at])
        return out

    def test_outcomes_of_the_extraction_run(self):
        """Each outcome of the extraction run, by what the user sees: launched or not, which box."""
        base = self.build(xs.assist(), files={"x.txt": "x", "extra.txt": "e"},
                          groups={"Extra": ["extra.txt"]})
        off, size = xs.entry_region(base, "UpdateModuleSetup.exe")
        _, groups = xs.read_package(base)
        primary_headers = 4 + sum(8 + 2 * len(g) + sum(8 + 2 * len(e) for e, _ in es) for g, es in groups)
        stub_len = len(xs.read_package(base)[0])
        rows = [
            # label, package, steps, launched, box (caption, text) or None
            ("everything written and expanded", lambda: base, [PROGRESS, EXIT], True, None),
            ("maker check refused", lambda: self.build(xs.assist(UseHalvoCheck="1"), name="check.exe"),
             self.warning_steps("warning-102-not-halvo.bmp") + [EXIT], False, ("Halvo Bundrel", NOT_HALVO)),
            ("cabinet expansion failed", lambda: self.corrupt_cabinet(base),
             self.warning_steps("failure-1003.bmp", "Error") + [EXIT], False, ("Error", FAILED_1003)),
            ("body cut short in the module", lambda: self.cut(base, off + size // 2, "cut-body.exe"),
             self.warning_steps("failure-1003-cut.bmp", "Error") + [EXIT], False, ("Error", FAILED_1003)),
            ("headers cut short", lambda: self.cut(base, stub_len + primary_headers // 2, "cut-headers.exe"),
             [PROGRESS, "watch --interval 100 --duration 2500", EXIT], False, None),
            ("no package", lambda: e2e.STUB, [PROGRESS, EXIT], False, None),
            # A group named like a file of the run folder: its folder cannot be made, its file not
            # created; the walk ends there but the install run still goes ahead.
            ("output file not created",
             lambda: self.build(xs.assist(), files={"extra.txt": "e"}, groups={"AssistFile.ini": ["extra.txt"]},
                                name="clash.exe"),
             [PROGRESS, EXIT], True, None),
        ]
        for label, make, steps, launched, box in rows:
            with self.subTest(label):
                self.fresh_probe()
                pkg = self.place(make())
                events = self.run_stub(pkg, steps)
                (self.assertLaunched if launched else self.assertNotLaunched)(events)
                if box:
                    self.assertBox(events, *box)
                else:
                    self.assertFalse(e2e.windows_of(events, title="Error"), label)
                self.assertWorkEmpty()

    def test_missing_cabinet_library(self):
        s = self.wine_session
        dll = os.path.join(s.drive_c, "windows", "system32", "cabinet.dll")
        keep = os.path.join(s.root, "cabinet.dll.kept")
        os.link(dll, keep)
        os.unlink(dll)  # a hard link into the base prefix: unlink only, never write to it
        try:
            pkg = self.place(self.build(xs.assist()))
            # The walk ends at the cabinet; the install run still checks the installer, which was never
            # expanded, so the integrity failure follows the warning.
            events = self.run_stub(pkg, [
                PROGRESS, 'wait-window --window "class=#32770;title=Error" --timeout 30000',
                'screenshot "%s"' % artifact("warning-103-cant-extract.bmp"), "dump --visible-only",
                'press --window "class=#32770;title=Error" --button OK',
                'press --window "class=#32770;title=Halvo Bundrel" --button OK', EXIT])
        finally:
            os.link(keep, dll)
            os.unlink(keep)
        self.assertBox(events, "Halvo Bundrel", CANT_EXTRACT)
        self.assertBox(events, "Error", "Setup failed.(Error Code: 1001)")
        self.assertNotLaunched(events)
        self.assertWorkEmpty()


class FolderDialogTest(ExtractionCase):
    def setUp(self):
        super().setUp()
        self.drive = xs.TmpfsDrive(self.wine_session)
        self.addCleanup(self.drive.unmount)
        picked = self.wine_session.host_path(r"C:\Picked")
        shutil.rmtree(picked, ignore_errors=True)
        os.makedirs(os.path.join(picked, "Here"))

    def cabinet_members_in(self, host_dir):
        return sorted(os.listdir(host_dir)) if os.path.isdir(host_dir) else []

    def test_folder_dialog_outcomes(self):
        s = self.wine_session
        pkg = self.place(self.build(xs.assist(ExtractPathByUser="1")))
        self.drive.mount(8 << 20)
        members = ["exitwith.exe", "install.bat", "sub"]
        cases = [
            # pick, shot, where the files should land
            (r"C:\Picked\Here", "browse-for-folder.bmp", s.host_path(r"C:\Picked\Here")),
            ("D:\\", None, self.drive.dir),
            (None, None, None),
        ]
        for pick, shot, landed in cases:
            with self.subTest(pick=pick):
                for folder in (s.host_path(r"C:\Picked\Here"), self.drive.dir):
                    for n in os.listdir(folder):
                        p = os.path.join(folder, n)
                        shutil.rmtree(p) if os.path.isdir(p) else os.unlink(p)
                events = self.run_stub(pkg, self.browse_steps(pick, shot) + [EXIT], detached=True)
                self.assertNotLaunched(events)
                if landed:
                    self.assertEqual(members, self.cabinet_members_in(landed))
                    self.assertTrue(os.path.exists(os.path.join(landed, "sub", "nested.txt")))
                    # The settings files and the module were written before the pick: not here.
                    self.assertNotIn("AssistFile.ini", os.listdir(landed))
                else:
                    self.assertEqual([], self.cabinet_members_in(s.host_path(r"C:\Picked\Here")))
                    self.assertEqual([], os.listdir(self.drive.dir))
                self.assertWorkEmpty()

    def test_room_on_the_picked_drive(self):
        s = self.wine_session
        with_cab = self.build(xs.assist(ExtractPathByUser="1"), name="cab.exe")
        with open(e2e.EXITWITH, "rb") as f:
            plain = f.read()
        other = self.build(xs.assist(ExtractPathByUser="1"), cabinet=False, files={"exitwith.exe": plain},
                           extra_files=["exitwith.exe"], name="other.exe")
        margin = 64 << 10
        cases = [
            # package, free bytes on D:, room
            (with_cab, 2 * os.path.getsize(with_cab) - margin, False),
            (with_cab, 2 * os.path.getsize(with_cab) + margin, True),
            (other, os.path.getsize(other) - margin, False),
            (other, os.path.getsize(other) + margin, True),
        ]
        for pkg, free, room in cases:
            with self.subTest(package=os.path.basename(pkg), free=free):
                self.drive.mount(free)
                os.makedirs(self.drive.path("Stuff"))
                shot = [] if room else self.warning_steps("warning-101-no-space.bmp")
                events = self.run_stub(self.place(pkg), self.browse_steps(r"D:\Stuff") + shot + [EXIT], detached=True)
                self.assertNotLaunched(events)
                stuff = os.listdir(self.drive.path("Stuff"))
                if room:
                    self.assertIn("exitwith.exe", stuff)
                    self.assertFalse(e2e.windows_of(events, title="Halvo Bundrel", cls="#32770") and
                                     any(NO_SPACE_D in texts(w) for w in e2e.windows_of(events)))
                else:
                    self.assertBox(events, "Halvo Bundrel", NO_SPACE_D)
                    self.assertEqual([], stuff)
                self.assertWorkEmpty()

    def test_expansion_that_fills_the_picked_drive_fails_cleanly(self):
        # The cabinet is small but expands to far more than the drive holds: the room test passes,
        # the expansion runs out of space.
        files = {"payload/zeros.bin": bytes(24 << 20), "payload/exitwith.exe": b"MZ"}
        desc = xs.description(xs.assist(ExtractPathByUser="1"), cabinet="payload")
        pkg = e2e.build_package(desc, files, self.out, name="zeros.exe")
        self.drive.mount(2 * os.path.getsize(pkg) + (256 << 10))
        os.makedirs(self.drive.path("Stuff"))
        events = self.run_stub(self.place(pkg), self.browse_steps(r"D:\Stuff") +
                               self.warning_steps("failure-1003-disk-full.bmp", "Error") + [EXIT], detached=True)
        zeros = self.drive.path("Stuff", "zeros.bin")
        written = os.path.getsize(zeros) if os.path.exists(zeros) else -1
        self.assertTrue(any(FAILED_1003 in texts(w) for w in e2e.windows_of(events, title="Error")),
                        "no failure box; zeros.bin on D: holds %d of %d bytes" % (written, 24 << 20))
        self.assertNotLaunched(events)
        self.assertWorkEmpty()



if __name__ == "__main__":
    e2e.main()
