"""What the user sees: the progress window, the keys it ignores, the silent run, the result box and
the question box from the message catalogue, all read back from the real windows."""
import os

import tessel_e2e as e2e
import ui_support as ui

PRODUCT = "Tessel UI Test"
PRODUCT_SEL = '--window "title=%s"' % PRODUCT
PROGRESS_SEL = '--window "title=%s"' % ui.PROGRESS_TITLE
NOT_HALVO_EN = "This program runs on Halvo computers only."


class UiTestCase(e2e.E2ETestCase):
    sleep_ms = "0"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.log = ui.InstallerLog(cls.wine_session)
        cls.wine_session.set_env(TESSEL_EXITWITH_SLEEP_MS=cls.sleep_ms, **cls.log.env())

    def run_package(self, package, steps, args=()):
        self.log.clear()
        events = ui.run(self.wine_session, package, steps, args)
        self.assertFalse(ui.errors(events), events[-3:])
        return events

    def with_env(self, **values):
        """Changes the session's environment for the rest of the test."""
        s = self.wine_session
        old = {k: s.env.get(k) for k in values}

        def restore():
            for k, v in old.items():
                if v is None:
                    s.env.pop(k, None)
                else:
                    s.env[k] = v
            s.restart()
        self.addCleanup(restore)
        s.set_env(**values)

    def with_dpi(self, dpi):
        self.addCleanup(self.wine_session.set_dpi, 96)
        self.wine_session.set_dpi(dpi)


class ProgressWindowTest(UiTestCase):
    sleep_ms = "4000"  # the installer outlives the hiding of the progress window

    def check_layout(self, window, dpi, text):
        sx = lambda v: ui.scaled(v, dpi)
        self.assertEqual({"w": sx(399), "h": sx(89)}, window["client"])
        x, y, w, h = ui.rect(window)
        self.assertEqual((ui.SCREEN_W // 2 - w // 2, ui.SCREEN_H // 2 - h // 2), (x, y), "centred on the screen")
        bar = e2e.control(window, ui.PROGRESS_BAR)
        self.assertEqual((sx(22), sx(51), sx(355), sx(15)), ui.rect(bar))
        self.assertTrue(bar["visible"])
        self.assertEqual((0, 1000), (bar["progress"]["min"], bar["progress"]["max"]))
        status = e2e.control(window, ui.STATIC_ID) or e2e.control(window, -1)
        self.assertIsNotNone(status, window)
        self.assertEqual((sx(22), sx(22), sx(150), sx(14)), ui.rect(status))
        self.assertEqual(text, status["text"])
        self.assertTrue(window["exstyle"] & e2e.WS_EX_APPWINDOW)
        self.assertTrue(window["taskbar"])

    def test_interactive_run_keys_progress_and_hiding(self):
        package = ui.make_package(self.wine_session, "progress", code="7", payload_bytes=60 << 20)
        keys = ["key %s ESCAPE" % PROGRESS_SEL, "key %s RETURN" % PROGRESS_SEL, "key %s alt+F4" % PROGRESS_SEL,
                "key %s F1" % PROGRESS_SEL, "syscommand %s SC_CLOSE" % PROGRESS_SEL]
        samples = []
        for _ in range(12):
            samples += ["dump", "sleep 100"]
        events = self.run_package(package, [
            'wait-window --title "%s" --timeout 30000' % ui.PROGRESS_TITLE,
            "screenshot %s %s" % (PROGRESS_SEL, ui.artifact("progress-en.bmp"))] + keys + samples + [
            "watch --interval 25 --duration 60000", "wait-exit --timeout 60000"])
        first = ui.event(events, "wait-window")["window"]
        self.check_layout(first, 96, ui.EXTRACTING_EN)

        # The keys and the window menu's Close changed nothing: same window, same place, the run went on.
        dialogs = ui.snapshots(events, title=ui.PROGRESS_TITLE)
        after_keys = [w for t, w in dialogs if t > ui.event(events, "syscommand")["t_ms"]]
        self.assertTrue(after_keys)
        self.assertEqual(first["hwnd"], after_keys[0]["hwnd"])
        self.assertEqual(first["rect"], after_keys[0]["rect"])
        self.assertEqual(7, e2e.exit_code(events))
        self.assertEqual(1, len(self.log.starts()))

        # The bar creeps and is filled at the end; it never stands between 990 and 1000.
        positions = [e2e.control(w, ui.PROGRESS_BAR)["progress"]["pos"] for t, w in dialogs
                     if e2e.control(w, ui.PROGRESS_BAR) and "progress" in e2e.control(w, ui.PROGRESS_BAR)]
        self.assertEqual(positions, sorted(positions), "the bar only moves forward")
        self.assertEqual(1000, positions[-1])
        self.assertFalse([p for p in positions if 990 < p < 1000], positions)

        # Hidden once the module runs, while the installer still sleeps.
        hidden = [t for t, w in dialogs if not w["visible"] and w["rect"]["w"] > 0]
        self.assertTrue(hidden, "the progress window must hide")
        exit_t = ui.event(events, "exit")["t_ms"]
        self.assertGreater(exit_t - hidden[0], 2500, "hidden before the installer ended")

    def test_high_dpi_japanese_layout(self):
        self.with_env(LC_ALL="ja_JP.UTF-8")
        self.with_dpi(144)
        package = ui.make_package(self.wine_session, "progress-ja", code="0", payload_bytes=8 << 20)
        events = self.run_package(package, [
            'wait-window --title "%s" --timeout 30000' % ui.PROGRESS_TITLE,
            "screenshot %s %s" % (PROGRESS_SEL, ui.artifact("progress-ja.bmp")), "wait-exit --timeout 60000"])
        self.check_layout(ui.event(events, "wait-window")["window"], 144, ui.EXTRACTING_JA)
        self.assertEqual(0, e2e.exit_code(events))


class SilentRunTest(UiTestCase):
    def test_silent_run_covers_no_pixel_and_keeps_the_exit_code(self):
        package = ui.make_package(self.wine_session, "silent", code="1603", show_result="1", success="0")
        events = self.run_package(package, ["watch --interval 20 --duration 60000", "wait-exit --timeout 60000"],
                                  args=["-s"])
        watches = [e for e in events if e.get("event") == "watch"]
        self.assertTrue(watches and watches[-1]["exited"], watches)
        self.assertFalse(any(w["ever_covered_pixels"] for w in watches), watches)
        self.assertFalse(any(w["ever_taskbar"] for w in watches), watches)
        dialogs = ui.snapshots(events, title=ui.PROGRESS_TITLE)
        self.assertTrue(dialogs, "the dialog exists, collapsed")
        for _, w in dialogs:
            # Before its initialisation the dialog exists hidden with the template's styles; from the
            # moment it is visible it is a collapsed tool window.
            if w["visible"]:
                self.assertTrue(w["exstyle"] & e2e.WS_EX_TOOLWINDOW, w)
                self.assertFalse(w["exstyle"] & e2e.WS_EX_APPWINDOW, w)
                self.assertEqual((0, 0, 0, 0), ui.rect(w), "collapsed")
        self.assertFalse(ui.snapshots(events, title=PRODUCT), "no result box in a silent run")
        self.assertEqual(1603, e2e.exit_code(events))
        self.assertEqual(1, len(self.log.starts()))

    def test_warning_still_shown_in_silent_run(self):
        package = ui.make_package(self.wine_session, "warn", code="9", check="1")
        events = self.run_package(package, [
            'wait-window --class "#32770" --title "%s" --timeout 30000' % ui.PROGRESS_TITLE,
            'press --window last --button OK', "wait-exit --timeout 60000"], args=["-s"])
        box = ui.event(events, "wait-window")["window"]
        self.assertIn(NOT_HALVO_EN, " ".join(c.get("text", "") for c in box["controls"]))
        self.assertEqual(0, e2e.exit_code(events))
        self.assertEqual([], self.log.starts(), "a refused check launches nothing")


class OutsideCloseTest(UiTestCase):
    sleep_ms = "40000"

    def test_wm_close_from_outside_ends_the_run_within_ten_seconds(self):
        package = ui.make_package(self.wine_session, "close", code="5")
        events = self.run_package(package, [
            'wait-window --title "%s" --timeout 30000' % ui.PROGRESS_TITLE,
            'wait-gone --window "title=%s" --timeout 30000' % ui.PROGRESS_TITLE,  # the module runs
            "sleep 500",
            'close --window "title=%s;visible=any"' % ui.PROGRESS_TITLE, "wait-exit --timeout 35000"])
        waited = ui.event(events, "exit")["t_ms"] - ui.event(events, "close")["t_ms"]
        self.assertLessEqual(waited, 12000)
        self.assertEqual(0, e2e.exit_code(events), "the payload had not ended")


class ResultBoxTest(UiTestCase):
    def result_run(self, name, show, success, code, screenshot=None):
        package = ui.make_package(self.wine_session, name, code=code, show_result=show, success=success,
                                  product=PRODUCT)
        steps = ['wait-window --title "%s" --timeout 30000' % PRODUCT]
        if screenshot:
            steps.append("screenshot %s %s" % (PRODUCT_SEL, ui.artifact(screenshot)))
        steps += ["press %s --button 1001" % PRODUCT_SEL, "wait-exit --timeout 60000"]
        events = self.run_package(package, steps)
        return ui.event(events, "wait-window")["window"], events

    def check_one_button(self, box, dpi, text_width=None):
        sx = lambda v: ui.scaled(v, dpi)
        text = e2e.control(box, ui.MSG_TEXT)
        x, y, w, h = ui.rect(text)
        self.assertEqual((sx(22), sx(22)), (x, y))
        if text_width is not None:
            self.assertEqual(sx(text_width), w)
        self.assertGreaterEqual(w, sx(200))
        client_w = box["client"]["w"]
        self.assertEqual(w + sx(44), client_w, box["client"])
        button = e2e.control(box, ui.BUTTON_RIGHT)
        self.assertTrue(button["visible"])
        self.assertEqual(ui.OK_EN, button["text"])
        bx, by, bw, bh = ui.rect(button)
        self.assertEqual((sx(75), sx(23)), (bw, bh))
        self.assertAlmostEqual(client_w - sx(85), bx, delta=1)
        self.assertFalse(e2e.control(box, ui.BUTTON_LEFT)["visible"])
        self.assertFalse(e2e.control(box, ui.CHECK)["visible"])
        self.assertAlmostEqual(box["client"]["h"], h + sx(87), delta=1)

    def test_result_box_texts(self):
        cases = [  # ShowResult, SuccessCode, installer exit code, text (None: no box)
            ("1", "0;3010", "3010", ui.SUCCESS_EN),
            ("1", "0", "1603", ui.FAILED_1002_EN),
            ("1", "", "0", ui.FAILED_1002_EN),
            ("1", "-1", "0xFFFFFFFF", ui.SUCCESS_EN),
            ("1", '" 0 ;"', "0", ui.SUCCESS_EN),
            ('"true"', "0", "0", None),
            ("01", "0", "0", None),
            ('" 1"', "0", "0", None),
        ]
        for i, (show, success, code, text) in enumerate(cases):
            with self.subTest(show=show, success=success, code=code):
                if text is None:
                    package = ui.make_package(self.wine_session, "nobox%d" % i, code=code, show_result=show,
                                              success=success, product=PRODUCT)
                    events = self.run_package(package, ["watch --interval 25 --duration 60000",
                                                        "wait-exit --timeout 60000"])
                    self.assertFalse(ui.snapshots(events, title=PRODUCT), "no result box")
                else:
                    box, events = self.result_run("box%d" % i, show, success, code,
                                                  "result-en.bmp" if i == 0 else None)
                    self.assertEqual(PRODUCT, box["title"])
                    self.assertEqual(text, e2e.control(box, ui.MSG_TEXT)["text"])
                    self.check_one_button(box, 96, 200 if text == ui.SUCCESS_EN else None)
                self.assertEqual(int(code, 0), e2e.exit_code(events))

    def test_result_box_at_144_dpi_and_in_japanese(self):
        self.with_dpi(144)
        box, events = self.result_run("dpi", "1", "0", "0")
        self.assertEqual(ui.SUCCESS_EN, e2e.control(box, ui.MSG_TEXT)["text"])
        self.check_one_button(box, 144, 200)
        self.with_env(LC_ALL="ja_JP.UTF-8")
        box, events = self.result_run("ja", "1", "0", "0", "result-ja.bmp")
        self.assertEqual(PRODUCT, box["title"])
        self.assertNotEqual(ui.SUCCESS_EN, e2e.control(box, ui.MSG_TEXT)["text"])
        self.assertEqual(ui.OK_EN, e2e.control(box, ui.BUTTON_RIGHT)["text"])


CAT_PLAIN = ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<MessageInfo>\n"
             "  <ENG>Install Tom &amp; Jerry's tools now?</ENG>\n"
             "  <JPN>\u4eca\u3059\u3050\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u3057\u307e\u3059\u304b?</JPN>\n"
             "  <RUS>\u0423\u0441\u0442\u0430\u043d\u043e\u0432\u0438\u0442\u044c?</RUS>\n</MessageInfo>\n")
CAT_NAMESPACE = ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<MessageInfo xmlns=\"urn:example\">\n"
                 "  <ENG>A question from a namespaced catalogue.</ENG>\n</MessageInfo>\n")
CAT_ENGLISH_ONLY = ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<MessageInfo>\n"
                    "  <ENG>Only English here.</ENG>\n</MessageInfo>\n")


class QuestionBoxTest(UiTestCase):
    def ask(self, name, catalogue, ok_only, action, screenshot=None):
        package = ui.make_package(self.wine_session, name, code="5", product=PRODUCT, catalogue=catalogue,
                                  message=[("IsShowMessageBox", "1"), ("IsOk", "1" if ok_only else "0")])
        steps = ['wait-window --title "%s" --timeout 30000' % PRODUCT]
        if screenshot:
            steps.append("screenshot %s %s" % (PRODUCT_SEL, ui.artifact(screenshot)))
        steps += [action % PRODUCT_SEL, "wait-exit --timeout 60000"]
        events = self.run_package(package, steps)
        return ui.event(events, "wait-window")["window"], events

    def check(self, box, events, text, left, right, launched):
        self.assertEqual(PRODUCT, box["title"])
        self.assertEqual(text, e2e.control(box, ui.MSG_TEXT)["text"])
        lb, rb = e2e.control(box, ui.BUTTON_LEFT), e2e.control(box, ui.BUTTON_RIGHT)
        self.assertEqual(right, rb["text"])
        if left is None:
            self.assertFalse(lb["visible"])
        else:
            self.assertTrue(lb["visible"])
            self.assertEqual(left, lb["text"])
        starts = self.log.starts()
        self.assertEqual(1 if launched else 0, len(starts), starts)
        self.assertEqual(5 if launched else 0, e2e.exit_code(events))

    def test_english_user(self):
        # No namespace; the ampersand is doubled so that it shows once; OK launches.
        box, events = self.ask("plain", CAT_PLAIN, False, "press %s --button 1000", "question-en.bmp")
        self.check(box, events, "Install Tom && Jerry's tools now?", ui.OK_EN, ui.CANCEL_EN, True)
        cw = box["client"]["w"]
        lx, _, lw, lh = ui.rect(e2e.control(box, ui.BUTTON_LEFT))
        rx, _, rw, rh = ui.rect(e2e.control(box, ui.BUTTON_RIGHT))
        self.assertEqual((cw - 169, 75, cw - 85, 75), (lx, lw, rx, rw))
        # A default namespace on the root; Cancel declines.
        box, events = self.ask("ns-cancel", CAT_NAMESPACE, False, "press %s --button 1001")
        self.check(box, events, "A question from a namespaced catalogue.", ui.OK_EN, ui.CANCEL_EN, False)
        # Closing the two-button box with the title-bar button declines.
        box, events = self.ask("ns-sysclose", CAT_NAMESPACE, False, "syscommand %s SC_CLOSE")
        self.check(box, events, "A question from a namespaced catalogue.", ui.OK_EN, ui.CANCEL_EN, False)
        # An OK-only notice goes on even when it is closed.
        box, events = self.ask("okonly", CAT_NAMESPACE, True, "close %s")
        self.check(box, events, "A question from a namespaced catalogue.", None, ui.OK_EN, True)

    def test_japanese_user(self):
        self.with_env(LC_ALL="ja_JP.UTF-8")
        box, events = self.ask("ja", CAT_PLAIN, False, "press %s --button 1000", "question-ja.bmp")
        self.check(box, events, "\u4eca\u3059\u3050\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u3057\u307e\u3059\u304b?",
                   ui.OK_EN, ui.CANCEL_JA, True)
        # Without a JPN element: the English text with English labels; closing declines.
        box, events = self.ask("ja-eng", CAT_ENGLISH_ONLY, False, "close %s")
        self.check(box, events, "Only English here.", ui.OK_EN, ui.CANCEL_EN, False)

    def test_ukrainian_user_reads_russian(self):
        self.with_env(LC_ALL="uk_UA.UTF-8")
        box, events = self.ask("uk", CAT_PLAIN, False, "press %s --button 1001")
        self.check(box, events, "\u0423\u0441\u0442\u0430\u043d\u043e\u0432\u0438\u0442\u044c?", ui.OK_EN,
                   ui.CANCEL_EN, False)


if __name__ == "__main__":
    e2e.main()
