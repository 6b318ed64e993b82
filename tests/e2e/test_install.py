"""The install run and the launcher, end to end: launch modes from the agent's registry values, the
launch line for each kind of installer, the integrity check, exit codes and the result box, the
folder the user picks, and the clean-up of the work folder after every run.

Two ways of looking at a launch: packages whose payload module is exitwith.exe (a "spy": its raw
command line is the launch line the stub handed over, its current directory the work folder), and
packages with the real module, where exitwith.exe is the installer or the registered host and its
log shows what finally ran."""
import os
import re
import shutil
import tempfile

import install_support as sup
import tessel_e2e as e2e

SAMPLE_XML = os.path.join(e2e.ROOT, "tools", "tessel-pack", "sample", "MessageInfo.xml")
QUESTION = "Do you want to install Tessel Sample now?"
RUN_FOLDER = re.compile(r"^C:\\ProgramData\\Halvo Corporation\\Halvo Bundrel\\PackagingTemp\\"
                        r"(\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\})$")
HOST_DIR = r"C:\TslHost"
BUTTON_RIGHT = 1001  # the only button of an OK box; Cancel when there are two
WAIT_MS = 40000


def xml():
    with open(SAMPLE_XML, encoding="utf-8") as f:
        return f.read()


def exitwith_bytes():
    with open(e2e.EXITWITH, "rb") as f:
        return f.read()


class InstallCase(e2e.E2ETestCase):
    """A session whose environment makes exitwith.exe log every start into self.log."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="tessel-install-")
        cls.log = os.path.join(cls.tmp, "exitwith.jsonl")
        cls.session_env = {"TESSEL_EXITWITH_LOG": e2e.winpath(cls.log), "TSL_HOST_DIR": HOST_DIR}
        cls.xvfb = None
        if not os.environ.get("DISPLAY"):
            cls.xvfb, cls.session_env["DISPLAY"] = sup.start_xvfb()
        super().setUpClass()
        s = cls.wine_session
        s.set_windows_version("win7")
        s.reg_delete(e2e.AGENT_KEY)
        host = s.host_path(HOST_DIR)
        os.makedirs(host, exist_ok=True)
        shutil.copy2(e2e.EXITWITH, os.path.join(host, "exitwith.exe"))
        shutil.copy2(e2e.EXITWITH, os.path.join(host, "host.exe"))

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        sup.stop_xvfb(cls.xvfb)
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def package(self, name, assist, message=None, files=None, module=e2e.MODULE, cabinet=None):
        """Builds a package into the prefix as C:\\Temp\\<name>.exe; returns its Windows path."""
        files = dict(files or {})
        listed = [f for f in files if not (cabinet and f.startswith(cabinet + "/"))]
        out = sup.build(sup.description(assist, message, listed, cabinet), files,
                        os.path.join(self.tmp, name), module=module, name=name + ".exe")
        return self.place(out, name)

    def place(self, local, name):
        """Copies a package into the prefix as C:\\Temp\\<name>.exe; returns its Windows path."""
        target = self.wine_session.host_path(r"C:\Temp\%s.exe" % name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(local, target)
        return r"C:\Temp\%s.exe" % name

    def agent(self, silent=None, launch=None):
        s = self.wine_session
        s.reg_delete(e2e.AGENT_KEY)
        if silent is not None:
            s.reg_add(e2e.AGENT_KEY, "SilentExecution", "REG_DWORD", silent)
        if launch is not None:
            s.reg_add(e2e.AGENT_KEY, "LaunchInstaller", "REG_DWORD", launch)

    def run_stub(self, program, args=None, boxes=(), extra_steps=()):
        """Runs the package; boxes lists (title, button id) of the boxes to answer, in order. A box that
        is not expected blocks the run, which then shows as a missing exit. Returns (events, log)."""
        if os.path.exists(self.log):
            os.unlink(self.log)
        steps = list(extra_steps)
        for title, button in boxes:
            steps += ['wait-window --title "%s" --timeout %d' % (title, WAIT_MS),
                      'press --title "%s" --button %d' % (title, button),
                      'wait-gone --title "%s" --timeout %d' % (title, WAIT_MS)]
        steps.append("wait-exit --timeout %d" % WAIT_MS)
        events = self.wine_session.robot(program, steps=steps, args_raw=args, timeout=120)
        return events, sup.read_log(self.log)

    def assertCleaned(self, run_folder=None):
        """From Windows Vista on, only the emptied run folder stays under PackagingTemp."""
        left = sup.leftovers(self.wine_session)
        self.assertIsNotNone(left, "PackagingTemp itself stays")
        self.assertEqual(1, len(left), left)
        name, items = next(iter(left.items()))
        self.assertEqual([], items, "the run folder must be empty: %s" % left)
        if run_folder:
            self.assertEqual(run_folder, name)

    def box_texts(self, events, title):
        found = e2e.windows_of(events, title=title)
        self.assertTrue(found, "no box titled %r" % title)
        return [c.get("text", "") for c in found[0].get("controls", []) if c.get("visible")]


class LaunchLineTest(InstallCase):
    """The module is exitwith.exe: its parameter text is exactly the launch line."""

    def spy_run(self, program, args=None, boxes=()):
        events, log = self.run_stub(program, args, boxes)
        self.assertEqual(0, e2e.exit_code(events))  # exitwith reads "Yes|..." as the code 0
        self.assertEqual(1, len(log), log)
        record = log[0]
        self.assertTrue(record["argv"][0].endswith("\\UpdateModuleSetup.exe"), record)
        m = RUN_FOLDER.match(record["cwd"])
        self.assertTrue(m, "the module runs in the run's work folder: %s" % record["cwd"])
        self.assertEqual(record["cwd"] + "\\UpdateModuleSetup.exe", record["argv"][0])
        self.assertCleaned(m.group(1))
        return sup.launch_line(record), record["cwd"] + "\\", events

    def test_launch_mode_follows_the_agent_values(self):
        common = {"ExecuteFileName": "inst.exe", "ParamManual": "/manual", "ParamSRM": "/srm",
                  "ProductName": "Mode Product", "ShowResult": "0"}
        files = {"inst.exe": exitwith_bytes(), "MessageInfo.xml": xml()}
        question = {"IsShowMessageBox": "1", "IsOk": "1"}
        full = self.package("modes", dict(common, ParamSRAU="/srau"), question, files, module=e2e.EXITWITH)
        no_srau = self.package("modes-nosrau", dict(common, ParamSRAU=""), question, files, module=e2e.EXITWITH)
        ask = [("Mode Product", BUTTON_RIGHT)]
        # (agent SilentExecution, LaunchInstaller, package, command line, question expected, expected arguments)
        cases = [
            # The agent's silent update: ParamSRAU, and MessageSetting.ini is not read, so no question.
            (1, None, full, None, False, "|/srau"),
            # Silent update with an empty ParamSRAU: no mode arguments, although ParamManual is set.
            (1, None, no_srau, "-s", False, "|-s"),
            # No agent key: manual mode, its arguments, one blank, the stub's command line as it came.
            (None, None, full, "hello  world", True, "|/manual hello  world"),
            (None, 0, full, None, True, "|/manual"),
            # The agent started the stub in its manual mode.
            (0, 1, full, None, True, "|/srm"),
            # LaunchInstaller 1 with any other SilentExecution: no mode arguments at all, no second bar.
            (2, 1, full, None, True, ""),
        ]
        try:
            for silent, launch, program, args, asked, tail in cases:
                with self.subTest(silent=silent, launch=launch, program=program, args=args):
                    self.agent(silent, launch)
                    line, work, events = self.spy_run(program, args, ask if asked else ())
                    self.assertEqual("Yes|" + work + "inst.exe" + tail, line)
                    if asked:
                        self.assertIn(QUESTION, self.box_texts(events, "Mode Product"))
        finally:
            self.agent()

    def test_launch_line_for_each_kind_of_installer(self):
        s = self.wine_session
        sup.reg_default(s, r"HKCR\.tsltest", "REG_SZ", "TslTest.File")
        sup.reg_default(s, r"HKCR\TslTest.File\shell\open\command", "REG_SZ",
                  r'"%s\exitwith.exe" /switch "%%1" more' % HOST_DIR)
        sup.reg_default(s, r"HKCR\.tslenv", "REG_SZ", "TslEnv.File")
        sup.reg_default(s, r"HKCR\TslEnv.File\shell\open\command", "REG_EXPAND_SZ", r'"%TSL_HOST_DIR%\host.exe" "%1"')
        sup.reg_default(s, r"HKCR\.tslnone", "REG_SZ", "TslNone.File")
        sup.reg_default(s, r"HKCR\TslNone.File\shell\open\command", "REG_SZ", r"%s\host.exe /nothing" % HOST_DIR)
        sysdir = r"C:\windows\system32"
        cases = [
            # (installer name, its launch line with @E@ for the installer's full path)
            ("Setup.Bat", r'No|%s\cmd.exe|/c "@E@" /q' % sysdir),
            # The quoted host stays quoted; the switch, the quoted installer; text after "%1" is dropped.
            ("inst.tsltest", r'No|"%s\exitwith.exe"|/switch "@E@" /q' % HOST_DIR),
            # A variable in the host path is expanded (REG_EXPAND_SZ); no "/": the quoted path follows.
            ("inst.tslenv", r'No|"%s\host.exe"|"@E@" /q' % HOST_DIR),
            # A command without "%1": the installer itself is the program.
            ("inst.tslnone", "No|@E@|/q"),
            # No registration for the type at all: the same.
            ("inst.tslunknown", "No|@E@|/q"),
        ]
        self.agent()
        for name, expected in cases:
            with self.subTest(installer=name):
                program = self.package("shape-" + name.replace(".", "-"),
                                       {"ExecuteFileName": name, "ParamManual": "/q", "ProductName": "Shape"},
                                       None, {name: b"@exit /b 0\r\n"}, module=e2e.EXITWITH)
                line, work, _ = self.spy_run(program)
                self.assertEqual(expected.replace("@E@", work + name), line)

    def test_elevation_and_old_windows(self):
        """Elevation "1" asks for the verb "runas" (Vista on) and "open" before Vista. Wine starts the
        module the same way for both verbs, so the verb itself is not visible from outside: these runs
        show that the module still starts with the same launch line and that, on XP, the clean-up takes
        the whole PackagingTemp folder."""
        s = self.wine_session
        self.agent()
        program = self.package("elevated", {"ExecuteFileName": "inst.exe", "ParamManual": "/e",
                                            "ProductName": "Elevated", "Elevation": "1"},
                               None, {"inst.exe": exitwith_bytes()}, module=e2e.EXITWITH)
        line, work, _ = self.spy_run(program)
        self.assertEqual("Yes|%sinst.exe|/e" % work, line)
        try:
            s.set_windows_version("winxp")
            events, log = self.run_stub(program)
            self.assertEqual(0, e2e.exit_code(events))
            self.assertEqual(1, len(log), log)
            work = log[0]["cwd"] + "\\"
            self.assertEqual("Yes|%sinst.exe|/e" % work, sup.launch_line(log[0]))
            self.assertIsNone(sup.leftovers(s), "before Vista the whole PackagingTemp folder goes")
            self.assertTrue(os.path.isdir(os.path.dirname(s.work_root())), "only PackagingTemp goes")
        finally:
            s.set_windows_version("win7")


class InstallRunTest(InstallCase):
    """The real module: what the installer finally receives, exit codes, integrity, picked folders."""

    def installer_records(self, log, name):
        return [r for r in log if r["argv"][0].lower().endswith("\\" + name.lower())]

    def test_exit_code_and_result_box(self):
        self.agent()
        program = self.package("result", {"ExecuteFileName": "inst.exe", "ParamManual": "", "ProductName":
                                          "Result Product", "ShowResult": "1", "SuccessCode": "0;3010"},
                               None, {"inst.exe": exitwith_bytes()})
        cases = [
            # (command line, result box text or None, installer argv after its name)
            ('3010 "a|b" c|d', "Setup completed successfully.", ["3010", "a|b", "c|d"]),
            ("1603", "Setup failed.(Error Code: 1002)", ["1603"]),
            # A silent run shows no result box and still ends with the installer's code.
            ("3010 x|y -s", None, ["3010", "x|y", "-s"]),
        ]
        for args, text, argv in cases:
            with self.subTest(args=args):
                boxes = [("Result Product", BUTTON_RIGHT)] if text else []
                events, log = self.run_stub(program, args, boxes)
                self.assertEqual(int(argv[0]), e2e.exit_code(events))
                records = self.installer_records(log, "inst.exe")
                self.assertEqual(1, len(records), log)
                self.assertEqual(argv, records[0]["argv"][1:])
                # The module runs the installer with the arguments as they were, bars and quotes included.
                self.assertTrue(records[0]["cmdline"].endswith(".exe\" " + args), records[0]["cmdline"])
                if text:
                    self.assertEqual(["OK", text], sorted(self.box_texts(events, "Result Product")))
                self.assertCleaned()

    def test_batch_file_and_registered_host_run(self):
        s = self.wine_session
        sup.reg_default(s, r"HKCR\.tsltest", "REG_SZ", "TslTest.File")
        sup.reg_default(s, r"HKCR\TslTest.File\shell\open\command", "REG_SZ",
                  r'"%s\exitwith.exe" /switch "%%1" more' % HOST_DIR)
        self.agent()
        bat = ("@\"%s\\exitwith.exe\" 7 %%*\r\n@exit /b %%errorlevel%%\r\n" % HOST_DIR).encode()
        program = self.package("batch", {"ExecuteFileName": "Setup.Bat", "ParamManual": "/q", "ProductName": "B"},
                               None, {"Setup.Bat": bat})
        events, log = self.run_stub(program)
        self.assertEqual(7, e2e.exit_code(events), "cmd.exe ran the batch file and handed back its code")
        records = self.installer_records(log, "exitwith.exe")
        self.assertEqual(1, len(records), log)
        self.assertEqual(["7", "/q"], records[0]["argv"][1:])
        self.assertRegex(records[0]["cwd"], RUN_FOLDER)
        self.assertCleaned()

        program = self.package("assoc", {"ExecuteFileName": "inst.tsltest", "ParamManual": "/q",
                                         "ProductName": "A"}, None, {"inst.tsltest": b"data"})
        events, log = self.run_stub(program)
        self.assertEqual(0, e2e.exit_code(events))
        records = self.installer_records(log, "exitwith.exe")
        self.assertEqual(1, len(records), log)
        self.assertEqual(HOST_DIR + "\\exitwith.exe", records[0]["argv"][0])
        self.assertEqual(["/switch", records[0]["cwd"] + "\\inst.tsltest", "/q"], records[0]["argv"][1:])
        self.assertCleaned()

    def test_integrity_check(self):
        self.agent()
        exe = exitwith_bytes()
        assist = {"ExecuteFileName": "inst.exe", "ParamManual": "5", "ProductName": "Check", "ShowResult": "0",
                  "enc_data": sup.md5_hex(exe).lower()}
        program = self.package("lower", assist, None, {"inst.exe": exe})
        stored = {v["key"]: v["value"] for v in sup.inspect(self.wine_session.host_path(program))
                  ["settings"]["AssistFile.ini"]["values"]}
        self.assertEqual(sup.md5_hex(exe).lower(), stored["enc_data"], "the package must carry lower case")
        events, log = self.run_stub(program)
        self.assertEqual(5, e2e.exit_code(events), "a lower-case checksum passes")
        self.assertEqual(1, len(self.installer_records(log, "inst.exe")), log)
        self.assertCleaned()

        # The installer changed after packaging: failure box, also in a silent run; nothing starts.
        local = sup.build(sup.description(dict(assist, enc_data="auto"), None, ["inst.exe"]), {"inst.exe": exe},
                          os.path.join(self.tmp, "tampered"), name="tampered.exe")
        sup.corrupt_entry(local, "inst.exe")
        events, log = self.run_stub(self.place(local, "tampered"), "-s", [("Error", BUTTON_RIGHT)])
        self.assertEqual(0, e2e.exit_code(events))
        self.assertEqual(["OK", "Setup failed.(Error Code: 1001)"], sorted(self.box_texts(events, "Error")))
        self.assertEqual([], log, "nothing may be launched")
        self.assertCleaned()

    def test_package_without_module_reads_settings_as_stored(self):
        """No UpdateModuleSetup.exe: no integrity check (enc_data is wrong here), plain settings (the
        question box appears, captioned with the plain product name), and no module to start."""
        self.agent()
        assist = {"ExecuteFileName": "inst.exe", "ParamManual": "9", "ProductName": "Plain Product",
                  "ExtractPathByUser": "0", "ShowResult": "1", "SuccessCode": "0", "enc_data": "0" * 32}
        local = sup.write_raw_package(os.path.join(self.tmp, "nomodule.exe"), [(sup.PRIMARY_GROUP, [
            ("MessageSetting.ini", sup.ini("Setting", {"IsShowMessageBox": "1", "IsOk": "1"})),
            ("AssistFile.ini", sup.ini("ParamOption", assist)),
            ("MessageInfo.xml", xml().encode("utf-8")),
            ("inst.exe", exitwith_bytes())])])
        events, log = self.run_stub(self.place(local, "nomodule"), boxes=[("Plain Product", BUTTON_RIGHT)])
        self.assertEqual(0, e2e.exit_code(events))
        self.assertIn(QUESTION, self.box_texts(events, "Plain Product"))
        self.assertFalse(e2e.windows_of(events, title="Error"))
        self.assertEqual([], log)
        self.assertCleaned()

    def test_module_that_cannot_start(self):
        """A module file that is no program: ShellExecuteEx fails, no result box although ShowResult is
        "1" and the run is interactive, exit code 0, clean-up as usual."""
        self.agent()
        module = os.path.join(self.tmp, "not-a-program.txt")
        with open(module, "w") as f:
            f.write("this is not a program\r\n")
        program = self.package("nostart", {"ExecuteFileName": "inst.exe", "ParamManual": "3010",
                                           "ProductName": "No Start", "ShowResult": "1", "SuccessCode": "0"},
                               None, {"inst.exe": exitwith_bytes()}, module=module)
        events, log = self.run_stub(program)
        self.assertEqual(0, e2e.exit_code(events))
        self.assertFalse(e2e.windows_of(events, title="No Start"))
        self.assertEqual([], log)
        self.assertCleaned()

    def test_picked_folder_gets_the_files_and_nothing_is_installed(self):
        s = self.wine_session
        self.agent()
        # Wine opens folders with its own explorer.exe, which would stay open (and keep the robot's
        # output pipe open); a registered open command makes the opening visible and short instead.
        s.reg_delete(r"HKCR\Folder\shell\open\ddeexec")
        sup.reg_default(s, r"HKCR\Folder\shell\open\command", "REG_SZ", r'"%s\host.exe" 0 "%%1"' % HOST_DIR)
        picked = r"C:\Picked\Here"
        os.makedirs(s.host_path(picked), exist_ok=True)
        program = self.package("pick", {"ExecuteFileName": "inst.exe", "ParamManual": "", "ProductName": "Pick",
                                        "ExtractPathByUser": "1", "ShowResult": "1", "SuccessCode": "0"},
                               None, {"payload/inst.exe": exitwith_bytes(), "payload/readme.txt": "read me\r\n"},
                               cabinet="payload")
        events, log = self.run_stub(program, extra_steps=[
            'browse-select --path "%s" --timeout %d' % (picked, WAIT_MS)])
        self.assertEqual(0, e2e.exit_code(events))
        self.assertEqual(["inst.exe", "readme.txt"], sorted(os.listdir(s.host_path(picked))))
        self.assertEqual([], self.installer_records(log, "inst.exe"), "the installer is not run")
        self.assertFalse(e2e.windows_of(events, title="Pick"), "no result box")
        # The shell was asked to open the picked folder, with one trailing backslash.
        opened = self.installer_records(log, "host.exe")
        self.assertEqual(1, len(opened), log)
        self.assertTrue(opened[0]["cmdline"].endswith(' 0 "%s\\"' % picked), opened[0]["cmdline"])
        self.assertCleaned()


if __name__ == "__main__":
    e2e.main()
