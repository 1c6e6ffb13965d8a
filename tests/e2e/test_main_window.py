"""The main window driven from outside: start-up fill, counter, Save, Start's
key check, keys, the documentation link and closing."""
import stat
import time
import unittest

from harness import (API_KEY, CONTENT, COUNTER, COUNTER_PREFIX, DEMO_KEYS, FORCE_TOKEN, PITCH, SAVE, SECRET_KEY,
                     SPEAKER, SPEAKER_NAMES, SPEED, START, VOLUME, App, build_setting, emulator, gbk, wait_for,
                     wine_registry)

DOC_HOST = build_setting("QX_DOC_HOST")
KEY_PROMPT = {"title": "提示", "text": "请输入 Secret Key 和 API Key", "owner": "main"}


class MainWindow(unittest.TestCase):
    def testStartupWithoutSettingsShowsDefaults(self):
        with App("startup-defaults") as app:
            self.assertEqual(app.text(SECRET_KEY), "")
            self.assertEqual(app.text(API_KEY), "")
            self.assertFalse(app.checked(FORCE_TOKEN))
            self.assertEqual(app.selection(SPEED), (5, "5"))
            self.assertEqual(app.selection(PITCH), (5, "5"))
            self.assertEqual(app.selection(VOLUME), (9, "9"))
            self.assertEqual(app.selection(SPEAKER), (0, "安雅"))
            self.assertEqual(app.items(SPEED), [str(n) for n in range(10)])
            self.assertEqual(app.items(PITCH), [str(n) for n in range(10)])
            self.assertEqual(app.items(VOLUME), [str(n) for n in range(16)])
            self.assertEqual(app.items(SPEAKER), SPEAKER_NAMES)
            self.assertEqual(app.text(COUNTER), COUNTER_PREFIX + "46")
            self.assertEqual(app.text(START), "开始合成")
            self.assertTrue(app.enabled(START))
            # Starting without a settings file writes none.
            self.assertFalse(app.ini.exists())
            app.screenshot("main-window-zh_CN")

    def testCounterCountsGbkBytesFromTheFirstChange(self):
        with App("counter") as app:
            self.assertEqual(app.counter(), "46")
            cases = [
                ("你好a", "5"),
                ("a\r\nb", "4"),
                ("x", "1"),
                ("", "0"),
                ("  前后有空格  ", "14"),
                ("a" * 1500, "1500"),  # longer than the limit: kept, counted, not cut
            ]
            for text, expected in cases:
                with self.subTest(text=text[:20]):
                    app.set_text(CONTENT, text)
                    self.assertEqual(app.counter(), expected)
                    self.assertEqual(app.text(CONTENT), text)
            app.set_text(CONTENT, "你好，语音合成。")
            app.screenshot("main-window-typed-zh_CN")

    def testSaveWithEmptyBoxesKeepsKeysAndTheToken(self):
        token_line = b"AT=qxemu.token-from-last-month.2419200"
        with App("save-empty", settings=b"[ocr]\r\nAK=old-ak\r\nSK=old-sk\r\n" + token_line + b"\r\n") as app:
            self.assertEqual(app.text(API_KEY), "old-ak")
            app.set_text(API_KEY, "")
            app.set_text(SECRET_KEY, "")
            app.click(SAVE)
            lines = app.ini_bytes().split(b"\r\n")
            self.assertIn(b"AK=", lines)
            self.assertIn(b"SK=", lines)
            self.assertIn(token_line, lines)
            self.assertEqual(lines.count(token_line), 1)

    def testSaveWritesBothKeysAsTyped(self):
        with App("save-typed") as app:
            app.set_text(API_KEY, "ak-你好")
            app.set_text(SECRET_KEY, "sk 1")
            app.click(SAVE)
            lines = app.ini_bytes().split(b"\r\n")
            self.assertEqual(lines[0], b"[ocr]")
            self.assertIn(b"AK=" + gbk("ak-你好"), lines)
            self.assertIn(b"SK=sk 1", lines)
            self.assertLess(lines.index(b"AK=" + gbk("ak-你好")), lines.index(b"SK=sk 1"))
            self.assertFalse(any(line.startswith(b"AT=") for line in lines))

    def testStartWithAMissingKeyAsksAndKeepsTheText(self):
        # (Secret Key, API Key, the box that should get the focus)
        cases = [("", "ak", SECRET_KEY), ("sk", "", API_KEY), ("", "", SECRET_KEY)]
        with App("start-missing-key") as app:
            app.set_text(CONTENT, "要合成的文本")
            for secret, api, focus in cases:
                with self.subTest(secret=secret, api=api):
                    app.set_text(SECRET_KEY, secret)
                    app.set_text(API_KEY, api)
                    app.click(START)
                    self.assertEqual(app.msgbox(), KEY_PROMPT)
                    # The focus moves once the box has closed and its call returned.
                    wait_for(lambda: app.focus() == focus, timeout=5)
                    self.assertEqual(app.focus(), focus)
                    self.assertEqual(app.text(CONTENT), "要合成的文本")
                    self.assertTrue(app.enabled(START))
                    self.assertIsNone(app.msgbox(wait=0.5))

    def testStartWithKeysOfSpacesStartsTheJob(self):
        with App("start-space-keys") as app:
            app.set_text(SECRET_KEY, " ")
            app.set_text(API_KEY, "  ")
            app.click(START)
            # The job ran: the message is its own (the box is empty), not the key prompt.
            self.assertEqual(app.msgbox(wait=30), {"title": "提示", "text": "请输入要合成的文本内容", "owner": "none"})
            self.assertTrue(wait_for(lambda: app.enabled(START)))
            self.assertEqual(app.text(CONTENT), "")

    def testEnterAndEscapeDoNothing(self):
        with App("enter-escape") as app:
            app.set_text(CONTENT, "第一行")
            # Esc in the multi-line content box asks its dialog to close.
            for item in (CONTENT, SECRET_KEY, API_KEY, SPEED, SPEAKER, FORCE_TOKEN):
                for key in ("return", "escape"):
                    with self.subTest(item=item, key=key):
                        app.key(item, key)
                        time.sleep(0.3)  # anything the key set off has been handled by now
                        self.assertTrue(app.window_exists())
                        self.assertTrue(app.alive())
            self.assertEqual(app.text(CONTENT), "第一行")
            self.assertIsNone(app.msgbox(wait=0.2))

    def testLinkCarriesTheDocumentationUrl(self):
        with App("link-url") as app:
            self.assertEqual(app.link_url(), f"https://{DOC_HOST}/ai-doc/SPEECH/qknh9i8ed")

    def testLinkClickOpensTheUrlInTheBrowser(self):
        app = App("link-click")
        record = app.dir / "opened.txt"
        browser = app.dir / "browser.sh"
        browser.write_text(f'#!/bin/sh\nprintf "%s\\n" "$1" >> "{record}"\n')
        browser.chmod(browser.stat().st_mode | stat.S_IXUSR)
        wine_registry("add", r"HKCU\Software\Wine\WineBrowser", "/v", "Browsers", "/d", str(browser), "/f")
        try:
            with app:
                app.link_click()
                self.assertTrue(wait_for(record.exists, timeout=20), "the browser was not started")
                self.assertEqual(record.read_text().splitlines(), [f"https://{DOC_HOST}/ai-doc/SPEECH/qknh9i8ed"])
                self.assertTrue(app.window_exists())
        finally:
            wine_registry("delete", r"HKCU\Software\Wine\WineBrowser", "/v", "Browsers", "/f")

    def testClosingEndsTheProcessWithCodeZero(self):
        with App("close", settings=b"[ocr]\r\nAK=a\r\nSK=s\r\n") as app:
            app.set_text(CONTENT, "不会保存")
            before = app.ini_bytes()
            app.close()
            self.assertEqual(app.wait_exit(), 0)
            self.assertEqual(app.ini_bytes(), before)  # nothing is written at exit

    def testClosingWhileAJobRunsStillEndsWithZero(self):
        emulator({"clear_faults": True, "fault": "synth:delay=5"})
        try:
            with App("close-during-job", settings=DEMO_KEYS) as app:
                app.set_text(CONTENT, "来不及合成")
                app.click(START)
                self.assertFalse(app.enabled(START))
                time.sleep(1)  # the job is waiting for its synthesis reply now
                app.close()
                self.assertEqual(app.wait_exit(), 0)
        finally:
            emulator({"clear_faults": True})


if __name__ == "__main__":
    unittest.main()
