"""The keyboard and the ways to close the window: what Start does to the
content box's focus and selection, and the close requests that end the
program."""
import unittest

from harness import CONTENT, DEMO_KEYS, START, App, emulator, emulator_requests
from test_job import spoken_text


class WindowKeys(unittest.TestCase):
    def setUp(self):
        emulator({"clear_faults": True, "clear_log": True})

    def tearDown(self):
        emulator({"clear_faults": True})

    def testStartKeepsTheTextAndSelectionSoTypingEditsIt(self):
        # The job waits for its token while the user goes on typing.
        emulator({"fault": "token:delay=5"})
        with App("start-keeps-selection", settings=DEMO_KEYS) as app:
            app.set_text(CONTENT, "今天天气很好")
            app.driver("edit-sel", CONTENT, 2, 4)  # 天气
            app.click(START)
            self.assertFalse(app.enabled(START))
            self.assertEqual(app.focus(), CONTENT)
            self.assertEqual(app.driver("edit-sel", CONTENT).split(), ["2", "4"])
            app.driver("type", "下雨")
            self.assertEqual(app.text(CONTENT), "今天下雨很好")
            self.assertEqual(app.msgbox(wait=60)["title"], "恭喜")
            # The text read after the token is the edited one.
            self.assertEqual(spoken_text(emulator_requests("synth")[-1]), "今天下雨很好")

    def testAltF4AndACloseRequestFromAnotherProgramClose(self):
        for way in ("alt-f4", "wm-close"):
            with self.subTest(way=way), App("close-" + way) as app:
                if way == "alt-f4":
                    app.key(CONTENT, "alt-f4")
                else:
                    app.driver("wm-close")
                self.assertEqual(app.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main()
