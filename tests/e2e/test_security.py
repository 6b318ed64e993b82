"""Reliability and security of whole runs: damaged and hostile packages, links planted into the
work-folder tree, the run folder's access list, planted libraries, and faults (a crashing payload,
a close from outside while the worker is busy)."""
import json
import os
import shutil
import subprocess
import threading
import time

import tessel_e2e as e2e
import security_support as ss

EXIT = "wait-exit --timeout 30000"
ERROR_BOX = "class=#32770;title=Error"
FAILED_1003 = "Setup failed.(Error Code: 1003)"
BUTTON_OK = 1001
SD_OUT = ss.PROBE + r"\sd.json"


def texts(window):
    return [c.get("text", "") for c in window.get("controls", [])]


class SecurityCase(e2e.E2ETestCase):
    session_env = {"TESSEL_EXITWITH_LOG": ss.INSTALL_LOG, "TESSEL_SD_PROBE_OUT": SD_OUT,
                   "TESSEL_SD_PROBE_SLEEP_MS": "3000"}

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        ss.ensure_display(cls.wine_session)
        cls.wine_session.wine("cmd", "/c", "ver")  # the first start of a fresh clone updates the prefix

    def setUp(self):
        s = self.wine_session
        self.out = os.path.join(s.root, "packages", self.id().rsplit(".", 1)[-1])
        shutil.rmtree(self.out, ignore_errors=True)
        os.makedirs(self.out)
        self.fresh_probe()

    def fresh_probe(self):
        probe = self.wine_session.host_path(ss.PROBE)
        shutil.rmtree(probe, ignore_errors=True)
        os.makedirs(os.path.join(probe, "marks"))

    # --- packages
    def build(self, assist=None, message=None, payload=None, files=None, extra=(), groups=None, name="package.exe"):
        values = {"ExecuteFileName": "exitwith.exe", "ParamManual": "0", "ProductName": "Security Test",
                  "ExtractPathByUser": "0", "UseHalvoCheck": "0", "Elevation": "0", "ShowResult": "0",
                  "SuccessCode": "0"}
        values.update(assist or {})
        with open(e2e.EXITWITH, "rb") as f:
            content = {"payload/exitwith.exe": f.read()}
        content.update(payload or {})
        content.update(files or {})
        lines = ["[assist]"] + ["%s = %s" % kv for kv in values.items()]
        lines += ["", "[message]"] + ["%s = %s" % kv for kv in (message or {"IsShowMessageBox": "0"}).items()]
        lines += ["", "[cabinet]", "folder = payload"]
        if extra:
            lines += ["", "[files]"] + list(extra)
        for g, paths in (groups or {}).items():
            lines += ["", "[group %s]" % g] + list(paths)
        return e2e.build_package("\n".join(lines) + "\n", content, self.out, name=name)

    def place(self, package, folder=r"C:\Pkg", name=None):
        win = folder + "\\" + (name or os.path.basename(package))
        host = self.wine_session.host_path(win)
        os.makedirs(os.path.dirname(host), exist_ok=True)
        shutil.copyfile(package, host)
        return win

    def robot(self, program, steps, **kw):
        ss.ensure_display(self.wine_session)
        return self.wine_session.robot(program, steps=steps, **kw)

    # --- observations
    def installs(self):
        return [json.loads(line) for line in ss.read_lines(self.wine_session, ss.INSTALL_LOG)]

    def drive_c(self):
        return ss.snapshot(self.wine_session.drive_c, skip=(os.path.join("ProgramData", "probe"),))

    def assertCleanEnd(self, events, before, label, launched=0, code=0):
        """Exit code, launches, nothing left in the work folders and nothing new elsewhere on C:."""
        self.assertEqual(code, e2e.exit_code(events), "%s: %s" % (label, json.dumps(events)[-1500:]))
        self.assertEqual(launched, len(self.installs()), "%s: %s" % (label, json.dumps(events)[-1500:]))
        self.assertEqual([], ss.run_folders_with_files(self.wine_session), label)
        work = os.path.relpath(self.wine_session.work_root(), self.wine_session.drive_c)
        changed = [p for p in ss.new_or_changed(before, self.drive_c()) if not p.startswith(work + os.sep)]
        mine = (os.path.join("Pkg", ""), os.path.join("Trap", ""))
        self.assertEqual([], [p for p in changed if not p.startswith(mine)], label)

    def assertBox(self, events, title, text):
        boxes = [w for w in e2e.windows_of(events, title=title) if text in texts(w)]
        self.assertTrue(boxes, "no box %r with %r in %s" % (title, text, json.dumps(events)[-2000:]))

    def run_in_background(self, program, steps):
        """Starts the robot on a thread; returns (thread, holder) where holder['events'] is filled."""
        holder = {}

        def go():
            holder["events"] = self.wine_session.robot(program, steps=steps)

        ss.ensure_display(self.wine_session)
        thread = threading.Thread(target=go)
        thread.start()
        return thread, holder

    def wait_for_file(self, host_path, seconds=40):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if os.path.exists(host_path) and os.path.getsize(host_path) > 0:
                return True
            time.sleep(0.05)
        return False

    def run_folder(self):
        root = self.wine_session.work_root()
        found = [n for n in os.listdir(root) if n.startswith("{")] if os.path.isdir(root) else []
        return os.path.join(root, found[0]) if len(found) == 1 else None


class DamagedPackageTest(SecurityCase):
    def test_damaged_and_hostile_packages(self):
        """Every package of the corpus: no crash, no file outside the work folder, the run folder gone
        or empty afterwards; damaged headers count as no package (no box, nothing launched), bodies that
        run past the end of the file as a failed setup (box 1003, nothing written, nothing launched)."""
        good = self.build(files={"x.txt": "x\r\n"}, extra=["x.txt"], groups={"Extra": ["x.txt"]}, name="good.exe")
        corpus = ss.damaged_corpus(good)
        self.assertGreaterEqual(len(corpus), 20)
        ss.reset_chain(self.wine_session)
        for i, (label, data, outcome) in enumerate(corpus):
            with self.subTest(label):
                self.fresh_probe()
                path = os.path.join(self.out, "damaged-%02d.exe" % i)
                with open(path, "wb") as f:
                    f.write(data)
                program = self.place(path)
                before = self.drive_c()
                # A box nobody answers blocks the run: a missing exit line shows it.
                if outcome == ss.REFUSED:
                    events = self.robot(program, ['wait-window --class "#32770" --title "Error" --timeout 30000',
                                                  'press --window "class=#32770;title=Error" --button 1001', EXIT])
                    boxes = e2e.windows_of(events, title="Error")
                    self.assertTrue(boxes, label)
                    self.assertIn("Setup failed.(Error Code: 1003)",
                                  [c.get("text") for c in boxes[0].get("controls", [])], label)
                else:
                    events = self.robot(program, [EXIT])
                    self.assertFalse(e2e.windows_of(events, title="Error"), label)
                self.assertCleanEnd(events, before, label, launched=1 if outcome == ss.RUNS else 0)

    def test_damaged_package_beside_the_files_of_a_package(self):
        """A damaged package started in a folder that holds a module, settings and an installer (the
        files of another package): the run has no work folder, and nothing of that folder is used."""
        good = self.build(assist={"ParamManual": "0"}, name="beside.exe")
        trap = self.wine_session.host_path(r"C:\Trap")
        shutil.rmtree(trap, ignore_errors=True)
        r = subprocess.run([e2e.PACK, "extract", good, trap, "--expand-cabinet", "--quiet"], capture_output=True,
                           text=True)
        self.assertEqual(0, r.returncode, r.stderr)
        self.assertTrue(os.path.exists(os.path.join(trap, "UpdateModuleSetup.exe")))
        with open(good, "rb") as f:
            data = bytearray(f.read())
        data[ss.SLOT:ss.SLOT + 4] = b"\0\0\0\0"
        with open(os.path.join(trap, "damaged.exe"), "wb") as f:
            f.write(data)
        before = self.drive_c()
        events = self.robot(r"C:\Trap\damaged.exe", [EXIT], cwd=r"C:\Trap")
        self.assertFalse(e2e.windows_of(events, title="Error"))
        self.assertCleanEnd(events, before, "damaged beside a package")


class LinkedWorkFolderTest(SecurityCase):
    def make_target(self):
        """A folder elsewhere on C: holding a canary file and an old-looking run folder."""
        target = self.wine_session.host_path(r"C:\LinkTarget")
        shutil.rmtree(target, ignore_errors=True)
        os.makedirs(os.path.join(target, "{00000000-0000-0000-0000-000000000000}"))
        with open(os.path.join(target, "canary.txt"), "w") as f:
            f.write("canary\n")
        with open(os.path.join(target, "{00000000-0000-0000-0000-000000000000}", "inner.txt"), "w") as f:
            f.write("inner\n")
        return target

    def test_link_on_the_way_to_the_work_folder_stops_the_run(self):
        """A link in place of any of the three folders: failure box 1003 before anything is written or
        deleted through it, nothing launched, the link's target untouched."""
        program = self.place(self.build())
        chain = ss.chain_paths(self.wine_session)
        for depth, label in enumerate(ss.WORK_CHAIN):
            with self.subTest(label):
                ss.reset_chain(self.wine_session)
                self.fresh_probe()
                for parent in chain[:depth]:
                    os.makedirs(parent, exist_ok=True)
                target = self.make_target()
                os.symlink(target, chain[depth])
                before = ss.snapshot(target)
                before_dirs = sorted(d for d, _, _ in os.walk(target))
                events = self.robot(program, [
                    'wait-window --window "%s" --timeout 30000' % ERROR_BOX, "dump --visible-only",
                    'press --window "%s" --button %d' % (ERROR_BOX, BUTTON_OK), EXIT])
                self.assertEqual(0, e2e.exit_code(events), label)
                self.assertBox(events, "Error", FAILED_1003)
                self.assertEqual([], self.installs(), label)
                self.assertTrue(os.path.islink(chain[depth]), label)
                self.assertEqual(before, ss.snapshot(target), label)
                # Not even an empty folder may be made through the link.
                self.assertEqual(before_dirs, sorted(d for d, _, _ in os.walk(target)), label)
        ss.reset_chain(self.wine_session)

    def test_link_swapped_in_during_the_install_skips_the_clean_up(self):
        """PackagingTemp replaced by a link while the installer runs: the clean-up deletes nothing
        through it, even where the link's target holds a folder named like the run folder."""
        ss.reset_chain(self.wine_session)
        program = self.place(self.build())
        self.wine_session.set_env(TESSEL_EXITWITH_SLEEP_MS="3000")
        try:
            thread, holder = self.run_in_background(program, [EXIT])
            self.assertTrue(self.wait_for_file(self.wine_session.host_path(ss.INSTALL_LOG)))
            run = self.run_folder()
            self.assertIsNotNone(run)
            temp = self.wine_session.work_root()
            target = self.make_target()
            os.makedirs(os.path.join(target, os.path.basename(run)))
            with open(os.path.join(target, os.path.basename(run), "canary.txt"), "w") as f:
                f.write("canary\n")
            before = ss.snapshot(target)
            os.rename(temp, temp + ".real")
            os.symlink(target, temp)
            thread.join(60)
            self.assertEqual(0, e2e.exit_code(holder["events"]))
            self.assertEqual(before, ss.snapshot(target))
        finally:
            self.wine_session.set_env(TESSEL_EXITWITH_SLEEP_MS="")
            ss.reset_chain(self.wine_session)


class RunFolderAclTest(SecurityCase):
    def test_run_folder_admits_only_its_creator_system_and_administrators(self):
        ss.reset_chain(self.wine_session)
        probe = ss.sd_probe(self.out)
        with open(probe, "rb") as f:
            program = self.place(self.build(assist={"ExecuteFileName": "sdprobe.exe"},
                                            payload={"payload/sdprobe.exe": f.read()}))
        thread, holder = self.run_in_background(program, [EXIT])
        out = self.wine_session.host_path(SD_OUT)
        self.assertTrue(self.wait_for_file(out))
        # While the probe waits, look at what Wine keeps for the folder on the Linux side.
        run = self.run_folder()
        self.assertIsNotNone(run)
        mode = oct(os.stat(run).st_mode & 0o777)
        try:
            stored = os.getxattr(run, "user.wine.sd")
        except OSError as e:
            stored = None
        thread.join(60)
        self.assertEqual(0, e2e.exit_code(holder["events"]))
        with open(out) as f:
            seen = json.loads(f.read())
        print("\nrun folder descriptor as Windows programs see it: %s\nunix mode %s, user.wine.sd: %s"
              % (json.dumps(seen), mode, stored.hex() if stored else "absent"))
        self.assertEqual(0, seen["rc"], seen)
        self.assertTrue(seen["user"].startswith("S-1-5-"), seen)
        dacl = seen["sddl"][seen["sddl"].index("D:"):]
        # Whatever Wine keeps, nobody but the creator, SYSTEM and Administrators may appear in it.
        aces = [a.split(";")[-1] for a in dacl[dacl.index("(") + 1:-1].split(")(")]
        self.assertTrue(set(aces) <= {"SY", "BA", seen["user"]}, dacl)
        self.assertNotIn("(A;", dacl.replace("(A;OICI;FA;;;SY)", "").replace("(A;OICI;FA;;;BA)", "")
                         .replace("(A;OICI;FA;;;%s)" % seen["user"], ""))
        self.assertEqual([], ss.run_folders_with_files(self.wine_session))
        if stored is None:
            self.skipTest("Wine kept no descriptor for the folder (no user.wine.sd; it shows its default "
                          "DACL %s): the protected form cannot be read back here" % dacl)
        self.assertEqual("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;%s)" % seen["user"], dacl)


class PlantedLibraryTest(SecurityCase):
    def test_libraries_beside_the_package_are_not_loaded(self):
        """Libraries planted beside the package (with a cabinet and the question box, so that the
        cabinet library and the XML parser are needed): none is loaded, by the stub or the module."""
        s = self.wine_session
        ss.reset_chain(s)
        dll = ss.plant_dll(self.out, ss.MARKS)
        with open(os.path.join(e2e.ROOT, "tools", "tessel-pack", "sample", "MessageInfo.xml"), encoding="utf-8") as f:
            xml = f.read()
        pkg = self.build(message={"IsShowMessageBox": "1", "IsOk": "1"}, files={"MessageInfo.xml": xml},
                         extra=["MessageInfo.xml"], name="planted.exe")
        program = self.place(pkg, folder=r"C:\Planted")
        ss.plant_everywhere(dll, s.host_path(r"C:\Planted"))
        events = self.robot(program, [
            'wait-window --title "Security Test" --timeout 40000',
            'press --title "Security Test" --button %d' % BUTTON_OK, EXIT], cwd=r"C:\Planted")
        self.assertEqual(0, e2e.exit_code(events))
        self.assertEqual(1, len(self.installs()), json.dumps(events)[-1500:])
        self.assertEqual({}, ss.marks(s))
        self.assertEqual([], ss.run_folders_with_files(s))

    def test_module_alone_beside_planted_libraries(self):
        s = self.wine_session
        dll = ss.plant_dll(self.out, ss.MARKS)
        folder = s.host_path(r"C:\ModuleAlone")
        ss.plant_everywhere(dll, folder)
        shutil.copyfile(e2e.MODULE, os.path.join(folder, "UpdateModuleSetup.exe"))
        shutil.copyfile(e2e.EXITWITH, os.path.join(folder, "exitwith.exe"))
        events = self.robot(r"C:\ModuleAlone\UpdateModuleSetup.exe", [EXIT],
                         args_raw=r"Yes|C:\ModuleAlone\exitwith.exe|7", cwd=r"C:\ModuleAlone")
        self.assertEqual(7, e2e.exit_code(events))
        self.assertEqual(1, len(self.installs()))
        marks = ss.marks(s)
        # exitwith.exe is a plain test program without a narrowed search: its own loads are not ours.
        ours = {k: v for k, v in marks.items() if not v.lower().endswith("exitwith.exe")}
        print("\nmarks left beside the module: %s" % json.dumps(marks))
        self.assertEqual({}, ours)


class FaultTest(SecurityCase):
    def test_crashing_payload_gives_its_code_and_nothing_stays(self):
        ss.reset_chain(self.wine_session)
        program = self.place(self.build(assist={"ParamManual": "0xC0000005"}))
        before = self.drive_c()
        events = self.robot(program, [EXIT])
        self.assertCleanEnd(events, before, "crash", launched=1, code=0xC0000005)

    def test_work_drive_that_fills_up_during_the_expansion(self):
        """The work folders on a small drive (a tmpfs mounted as "Halvo Corporation"; a mount point
        is a plain folder to Wine): the room test at the start passes (3 x the package), but the
        cabinet expands to far more. Failure box 1003, nothing launched, the work folders emptied."""
        s = self.wine_session
        ss.reset_chain(s)
        pkg = self.build(payload={"payload/zeros.bin": bytes(24 << 20)}, name="zeros.exe")
        top = ss.chain_paths(s)[0]
        os.makedirs(top)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % (3 * os.path.getsize(pkg) + (256 << 10)),
                        "tmpfs", top], check=True)
        try:
            program = self.place(pkg)
            events = self.robot(program, [
                'wait-window --window "%s" --timeout 40000' % ERROR_BOX, "dump --visible-only",
                'press --window "%s" --button %d' % (ERROR_BOX, BUTTON_OK), EXIT])
            self.assertEqual(0, e2e.exit_code(events))
            self.assertBox(events, "Error", FAILED_1003)
            self.assertEqual([], self.installs())
            self.assertEqual([], ss.run_folders_with_files(s))
        finally:
            subprocess.run(["umount", top])
            ss.reset_chain(s)

    def test_close_from_outside_while_extracting_a_large_payload(self):
        """WM_CLOSE to the progress window while the worker writes 64 MiB: the process ends within
        the dialog's 10 s wait (plus Wine's start-up) and launches nothing."""
        ss.reset_chain(self.wine_session)
        program = self.place(self.build(files={"big.bin": os.urandom(64 << 20)}, extra=["big.bin"],
                                        name="big.exe"))
        start = time.monotonic()
        events = self.robot(program, [
            'wait-window --title "Halvo Bundrel" --any-size --timeout 30000',
            'close --window "title=Halvo Bundrel"', "wait-exit --timeout 40000"])
        closed = [e for e in events if e.get("event") == "close"]
        self.assertEqual(0, e2e.exit_code(events))
        self.assertTrue(closed, json.dumps(events)[-1500:])
        took = (e2e.exit_event(events)["t_ms"] - closed[0]["t_ms"]) / 1000.0
        print("\nclose to exit: %.1f s (whole robot run %.1f s)" % (took, time.monotonic() - start))
        self.assertLessEqual(took, 15, json.dumps(events)[-1500:])
        print("files left under PackagingTemp after the close: %d" % len(ss.run_folders_with_files(self.wine_session)))
        self.assertEqual([], self.installs())


if __name__ == "__main__":
    e2e.main()
