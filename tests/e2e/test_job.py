"""The whole synthesis job in the real window: the real program, the local
speech service emulator and the UI driver. Every message path of the job, with
its order of Start and message, is tested in process (synthesis_job_tests);
these prove what only the real window and service show. The program of the
test build is wired to the emulator's ports (QX_TOKEN_HOST, QX_SYNTHESIS_HOST);
CTest starts the emulator before these tests and stops it after them."""
import json
import os
import re
import subprocess
import unittest
import urllib.parse

from harness import (API_KEY, CONTENT, DEMO_KEYS, FORCE_TOKEN, PITCH, SAVE, SECRET_KEY, SPEAKER, SPEED, START,
                     VOLUME, WORK, App, build_setting, emulator, emulator_requests, fresh_directory, unwritable,
                     wait_for)

STAMPED = re.compile(r"^语音合成成功，文件名：(.*\\(\d{13})\.mp3)$")


def form(entry):
    """The synthesis form of a logged request as (key, raw value) pairs in order."""
    body = entry["body"].encode("latin-1").decode("ascii")
    return [tuple(pair.split("=", 1)) for pair in body.split("&")]


def spoken_text(entry):
    """The tex field decoded twice, as the service does."""
    tex = dict(form(entry))["tex"]
    return urllib.parse.unquote_plus(urllib.parse.unquote_plus(tex), encoding="utf-8")


def mp3_seconds(path):
    """Decoded length of an MP3 file, by mpg123."""
    out = subprocess.run(["mpg123", "-q", "-s", "-m", "-r", "22050", str(path)], capture_output=True, timeout=60, check=True,
                         stdin=subprocess.DEVNULL).stdout
    return len(out) / 2 / 22050


def host_path(windows_path):
    assert windows_path.startswith("Z:"), windows_path
    return windows_path[2:].replace("\\", "/")


class SynthesisJob(unittest.TestCase):
    def setUp(self):
        emulator({"clear_faults": True, "clear_log": True})

    def synthesize(self, app, text="你好，世界。"):
        app.set_text(CONTENT, text)
        app.click(START)
        return app.msgbox(wait=60)

    def assertSaved(self, app, box):
        self.assertEqual((box["title"], box["owner"]), ("恭喜", "none"), box)
        match = STAMPED.match(box["text"])
        self.assertIsNotNone(match, box["text"])
        path = host_path(match.group(1))
        self.assertEqual(os.path.dirname(path), str(app.dir))
        return path

    def testFirstStartFetchesAndCachesATokenThenSavesAudio(self):
        with App("job-first", settings=DEMO_KEYS) as app:
            box = self.synthesize(app, "今天天气很好。")
            path = self.assertSaved(app, box)
            self.assertGreater(mp3_seconds(path), 0.5)
            self.assertEqual(len(emulator_requests("token")), 1)
            token = [line for line in app.ini_bytes().split(b"\r\n") if line.startswith(b"AT=")]
            self.assertEqual(len(token), 1)
            synth = emulator_requests("synth")
            self.assertEqual(len(synth), 1)
            self.assertEqual(synth[0]["scheme"], "https")
            referer = "https://%s/text2audio" % build_setting("QX_SYNTHESIS_HOST")
            self.assertIn(["Referer", referer], synth[0]["headers"])
            self.assertEqual(dict(form(synth[0]))["tok"].encode(), token[0][3:])
            self.assertEqual(spoken_text(synth[0]), "今天天气很好。")
            self.assertTrue(app.enabled(START))
            # Nothing but the finished file under the stamp: no temporary file stays.
            self.assertEqual(sorted(os.listdir(app.dir)), sorted(["QXtts.exe", "QXtts.ini", os.path.basename(path)]))

    def testCachedTokenIsUsedUntilTheBoxIsTicked(self):
        settings = DEMO_KEYS + b"AT=qx-cached-token\r\n"
        emulator({"add_tokens": ["qx-cached-token"]})
        with App("job-cached", settings=settings) as app:
            self.assertSaved(app, self.synthesize(app))
            self.assertEqual(emulator_requests("token"), [])
            self.assertEqual(dict(form(emulator_requests("synth")[-1]))["tok"], "qx-cached-token")

            app.driver("check", FORCE_TOKEN, 1)
            self.assertSaved(app, self.synthesize(app))
            self.assertEqual(len(emulator_requests("token")), 1)
            fresh = dict(form(emulator_requests("synth")[-1]))["tok"]
            self.assertNotEqual(fresh, "qx-cached-token")
            self.assertIn(b"AT=" + fresh.encode(), app.ini_bytes().split(b"\r\n"))

    def testLongCachedTokenIsReadWholeAtStartUp(self):
        token = "qx-long-" + "0123456789abcdef" * 187  # 3,000 bytes: longer than one read buffer
        self.assertEqual(len(token), 3000)
        emulator({"add_tokens": [token]})
        with App("job-long-token", settings=DEMO_KEYS + b"AT=" + token.encode() + b"\r\n") as app:
            self.assertSaved(app, self.synthesize(app))
            self.assertEqual(emulator_requests("token"), [])
            self.assertEqual(dict(form(emulator_requests("synth")[-1]))["tok"], token)

    def testListChoicesAreSentAsShown(self):
        with App("job-choices", settings=DEMO_KEYS) as app:
            app.driver("select", SPEAKER, 4)    # 清远-精品
            app.driver("select", SPEED, 2)
            app.driver("select", PITCH, 8)
            app.driver("select", VOLUME, 15)
            self.assertSaved(app, self.synthesize(app))
            fields = form(emulator_requests("synth")[-1])
            self.assertEqual([k for k, _ in fields],
                             ["lan", "ctp", "cuid", "tok", "tex", "vol", "per", "spd", "pit", "aue"])
            values = dict(fields)
            self.assertEqual((values["per"], values["spd"], values["pit"], values["vol"]), ("5003", "2", "8", "15"))

            app.driver("select", SPEAKER, 10)   # 若晴
            self.assertSaved(app, self.synthesize(app))
            self.assertEqual(dict(form(emulator_requests("synth")[-1]))["per"], "5")

    def testStartStaysDisabledWhileTheRequestRunsAndSaveStillWorks(self):
        with App("job-busy", settings=DEMO_KEYS) as app:
            emulator({"fault": "synth:delay=4"})
            app.set_text(CONTENT, "请稍等。")
            app.click(START)
            self.assertFalse(app.enabled(START))
            # The job has read the key boxes once its token request is in.
            self.assertTrue(wait_for(lambda: emulator_requests("token")))
            app.set_text(API_KEY, "saved-while-busy")
            app.click(SAVE)
            self.assertIn(b"AK=saved-while-busy", app.ini_bytes().split(b"\r\n"))
            self.assertFalse(app.enabled(START))
            # Enabled again right after the synthesis request, while the
            # success message is still open.
            box = json.loads(app.driver("msgbox", "--wait", 60, "--keep"))
            self.assertEqual(box["title"], "恭喜")
            self.assertTrue(app.enabled(START))
            app.msgbox()

    def testTypedKeysAreUsedButOnlyTheTokenIsSaved(self):
        with App("job-typed-keys") as app:
            app.set_text(SECRET_KEY, "qx-dev-secret-key")
            app.set_text(API_KEY, "qx-dev-api-key")
            self.assertSaved(app, self.synthesize(app))
            token = dict(form(emulator_requests("synth")[-1]))["tok"].encode()
            self.assertEqual(app.ini_bytes(), b"[ocr]\r\nAT=" + token + b"\r\n")

    def testUnwritableDirectoryGivesTheFailureMessageAndLeavesNothing(self):
        emulator({"add_tokens": ["qx-cached-token"]})
        with App("job-unwritable", settings=DEMO_KEYS + b"AT=qx-cached-token\r\n") as app:
            before = sorted(os.listdir(app.dir))
            with unwritable(app.dir):
                box = self.synthesize(app)
                after = sorted(os.listdir(app.dir))
            self.assertEqual(box, {"title": "抱歉", "text": "语音合成失败", "owner": "none"})
            self.assertEqual(len(emulator_requests("synth")), 1)
            self.assertEqual(after, before)  # no MP3, no temporary file
            self.assertTrue(app.enabled(START))

    def testNoReplyGivesTheFailureMessageNotTheRefusal(self):
        # A server that stays silent past the 30-second timeout, and a
        # connection reset before its TLS handshake.
        for fault in ("synth:delay=35", "synth:refuse"):
            with self.subTest(fault=fault):
                emulator({"add_tokens": ["qx-cached-token"], "fault": fault})
                with App("job-no-reply", settings=DEMO_KEYS + b"AT=qx-cached-token\r\n") as app:
                    before = sorted(os.listdir(app.dir))
                    box = self.synthesize(app)
                    self.assertEqual(box, {"title": "抱歉", "text": "语音合成失败", "owner": "none"})
                    self.assertEqual(sorted(os.listdir(app.dir)), before)
                    self.assertTrue(app.enabled(START))

    def testAnotherWorkingDirectoryLeavesTheFilesBesideTheProgram(self):
        elsewhere = fresh_directory(WORK / "job-elsewhere-cwd")
        with App("job-elsewhere", settings=DEMO_KEYS, cwd=elsewhere) as app:
            self.assertEqual(app.text(API_KEY), "qx-dev-api-key")
            self.assertGreater(mp3_seconds(self.assertSaved(app, self.synthesize(app))), 0.5)
            self.assertTrue(any(line.startswith(b"AT=") for line in app.ini_bytes().split(b"\r\n")))
        self.assertEqual(os.listdir(elsewhere), [])

    def testChineseDirectoryNameInTheChineseAndTheEnglishLocale(self):
        for lang, code_page in (("zh_CN.UTF-8", 936), ("en_US.UTF-8", 1252)):
            with self.subTest(lang=lang):
                emulator({"clear_log": True})
                directory = WORK / "语音" / lang
                with App("job-chinese-directory", settings=DEMO_KEYS, lang=lang, fresh=directory) as app:
                    self.assertEqual(app.code_page(), code_page)
                    self.assertEqual(app.text(API_KEY), "qx-dev-api-key")
                    path = self.assertSaved(app, self.synthesize(app))
                    self.assertGreater(mp3_seconds(path), 0.5)
                    self.assertTrue(any(line.startswith(b"AT=") for line in app.ini_bytes().split(b"\r\n")))


if __name__ == "__main__":
    unittest.main()
