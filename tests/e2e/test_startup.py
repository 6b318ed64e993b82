"""Start-up of the stub: the operating-system gate, the compatibility mark and the silent decision."""
import os
import shutil

import tessel_e2e as e2e

UNSUPPORTED_EN = ("This program cannot run on the current operating system.\nA standard installation of Windows XP, "
                  "Windows Vista, Windows 7 or Windows 8 is required.")
UNSUPPORTED_JA = ("\u3053\u306e\u30d7\u30ed\u30b0\u30e9\u30e0\u306f\u73fe\u5728\u306e OS \u3067\u306f\u5b9f\u884c"
                  "\u3067\u304d\u307e\u305b\u3093\u3002\nWindows XP\u3001Windows Vista\u3001Windows 7 \u307e\u305f"
                  "\u306f Windows 8 \u304c\u6a19\u6e96\u642d\u8f09\u3055\u308c\u3066\u3044\u308b\u5fc5\u8981\u304c"
                  "\u3042\u308a\u307e\u3059\u3002")
COMPAT_KEY = (r"HKCU\Software\Microsoft\Windows NT\CurrentVersion\AppCompatFlags\Compatibility Assistant"
              r"\Persisted")


def texts(window):
    return [c.get("text", "") for c in window.get("controls", [])]


class StartupTest(e2e.E2ETestCase):
    def place_stub(self, windows_path):
        target = self.wine_session.host_path(windows_path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(e2e.STUB, target)
        return windows_path

    def run_refused(self):
        stub = self.place_stub(r"C:\Temp\tessel-stub.exe")
        events = self.wine_session.robot(stub, steps=[
            'wait-window --class "#32770" --title "tessel-stub" --timeout 20000',
            'screenshot --window "class=#32770" "%s"' % e2e.winpath(os.path.join(e2e.BUILD, "artifacts",
                                                                                 "unsupported-os.bmp")),
            'press --window "class=#32770" --button OK',
            "wait-exit --timeout 20000"])
        boxes = e2e.windows_of(events, title="tessel-stub")
        self.assertTrue(boxes, events)
        self.assertEqual(0, e2e.exit_code(events))
        self.assertFalse(e2e.windows_of(events, title="Halvo Bundrel"), "no progress dialog may open")
        return texts(boxes[0])

    def test_windows_2000_is_refused_in_the_user_language(self):
        os.makedirs(os.path.join(e2e.BUILD, "artifacts"), exist_ok=True)
        s = self.wine_session
        s.set_windows_version("win2k")
        try:
            self.assertIn(UNSUPPORTED_EN, self.run_refused())
            s.set_env(LC_ALL="ja_JP.UTF-8")
            self.assertIn(UNSUPPORTED_JA, self.run_refused())
        finally:
            s.env.pop("LC_ALL", None)
            s.restart()
            s.set_windows_version("win7")

    def run_stub(self, windows_path, args=(), version="win7"):
        self.wine_session.set_windows_version(version)
        events = self.wine_session.robot(windows_path, args=list(args), steps=[
            'wait-window --title "Halvo Bundrel" --any-size --timeout 20000', "wait-exit --timeout 30000"])
        self.assertEqual(0, e2e.exit_code(events))
        return events

    def test_compatibility_mark_names_setup_programs_only(self):
        s = self.wine_session
        s.reg_add_key(COMPAT_KEY)
        cases = [
            (r"C:\Temp\MySetup.exe", "win7", True),
            (r"C:\Temp\Installer.exe", "win7", True),
            (r"C:\setup\pkg.exe", "win7", False),
            (r"C:\Temp\xp\setup.exe", "winxp64", False),  # 5.2: XP-class, no mark
            (r"C:\Temp\xp2\setup.exe", "winxp", False),
        ]
        for path, version, marked in cases:
            with self.subTest(path=path, version=version):
                self.run_stub(self.place_stub(path), ["-s"], version)
                value = s.reg_query(COMPAT_KEY, path)
                if marked:
                    self.assertEqual(("REG_DWORD", "0x21"), value)
                else:
                    self.assertIsNone(value)

    def test_missing_compatibility_key_is_not_created(self):
        s = self.wine_session
        s.reg_delete(COMPAT_KEY)
        self.run_stub(self.place_stub(r"C:\Temp\OtherSetup.exe"), ["-s"])
        self.assertIsNone(s.reg_query(COMPAT_KEY, r"C:\Temp\OtherSetup.exe"))
        r = s.wine("reg", "query", COMPAT_KEY)
        self.assertNotEqual(0, r.returncode, "the key must not be created")

    def exstyle(self, args=()):
        events = self.run_stub(self.place_stub(r"C:\Temp\plain.exe"), args)
        dialogs = e2e.windows_of(events, title="Halvo Bundrel")
        self.assertTrue(dialogs, events)
        return dialogs[0]["exstyle"]

    def assertSilent(self, exstyle, why):
        self.assertTrue(exstyle & e2e.WS_EX_TOOLWINDOW, why)
        self.assertFalse(exstyle & e2e.WS_EX_APPWINDOW, why)

    def assertInteractive(self, exstyle, why):
        self.assertTrue(exstyle & e2e.WS_EX_APPWINDOW, why)
        self.assertFalse(exstyle & e2e.WS_EX_TOOLWINDOW, why)

    def test_silent_switches(self):
        self.wine_session.reg_delete(e2e.AGENT_KEY)
        for args, silent in [(["/S"], True), (["-x", "-s"], True), (["/silent"], False), (["-s1"], False), ([], False)]:
            with self.subTest(args=args):
                ex = self.exstyle(args)
                (self.assertSilent if silent else self.assertInteractive)(ex, args)

    def test_agent_silent_execution_value(self):
        s = self.wine_session
        cases = [("REG_DWORD", "1", True), ("REG_DWORD", "2", False), ("REG_SZ", "1", False),
                 ("REG_BINARY", "01", True), ("REG_QWORD", "1", False)]
        try:
            for kind, data, silent in cases:
                with self.subTest(kind=kind, data=data):
                    s.reg_delete(e2e.AGENT_KEY, "SilentExecution")
                    s.reg_add(e2e.AGENT_KEY, "SilentExecution", kind, data)
                    ex = self.exstyle()
                    (self.assertSilent if silent else self.assertInteractive)(ex, (kind, data))
            # With the switch the registry is not consulted: silent even though the value says 2.
            s.reg_delete(e2e.AGENT_KEY, "SilentExecution")
            s.reg_add(e2e.AGENT_KEY, "SilentExecution", "REG_DWORD", "2")
            self.assertSilent(self.exstyle(["-s"]), "switch wins")
        finally:
            s.reg_delete(e2e.AGENT_KEY)


if __name__ == "__main__":
    e2e.main()
