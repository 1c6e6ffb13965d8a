"""The settings file beside the executable, as the running program sees it."""
import unittest

from harness import API_KEY, CONTENT, SAVE, SECRET_KEY, App, gbk


def long_value(length, seed):
    return "".join(chr(ord("a") + (i * seed) % 26) for i in range(length))


class Settings(unittest.TestCase):
    def testStartupLoadsKeysOfAnyLength(self):
        ak, sk = long_value(3000, 7), long_value(1100, 3)
        token = long_value(3000, 5)
        settings = f"[ocr]\r\nAK={ak}\r\nSK={sk}\r\nAT={token}\r\n".encode("ascii")
        with App("settings-long", settings=settings) as app:
            self.assertEqual(app.text(API_KEY), ak)
            self.assertEqual(app.text(SECRET_KEY), sk)
            # Save rewrites the keys and leaves the 3,000-byte token as it was.
            app.click(SAVE)
            self.assertIn(b"\r\nAT=" + token.encode("ascii") + b"\r\n", app.ini_bytes())

    def testStartupLoadsGbkKeys(self):
        settings = b"[ocr]\r\nAK=" + gbk("应用密钥") + b"\r\nSK=" + gbk("秘密") + b"\r\n"
        with App("settings-gbk", settings=settings) as app:
            self.assertEqual(app.text(API_KEY), "应用密钥")
            self.assertEqual(app.text(SECRET_KEY), "秘密")

    def testOtherSectionsAndKeysAreLeftAlone(self):
        settings = b"[other]\r\nAK=elsewhere\r\n[ocr]\r\nAK=a\r\nXX=kept\r\n"
        with App("settings-other", settings=settings) as app:
            self.assertEqual(app.text(API_KEY), "a")
            self.assertEqual(app.text(SECRET_KEY), "")
            app.set_text(API_KEY, "b")
            app.click(SAVE)
            lines = app.ini_bytes().split(b"\r\n")
            self.assertEqual(lines[:2], [b"[other]", b"AK=elsewhere"])
            self.assertIn(b"XX=kept", lines)
            self.assertIn(b"AK=b", lines)
            self.assertIn(b"SK=", lines)

    def testSavedKeysComeBackAtTheNextStart(self):
        first = App("settings-restart")
        with first:
            first.set_text(API_KEY, "ak-1")
            first.set_text(SECRET_KEY, "sk-1")
            first.set_text(CONTENT, "not saved")
            first.click(SAVE)
            first.close()
            self.assertEqual(first.wait_exit(), 0)
        with App("settings-restart", directory=first.dir) as second:
            self.assertEqual(second.text(API_KEY), "ak-1")
            self.assertEqual(second.text(SECRET_KEY), "sk-1")
            self.assertEqual(second.text(CONTENT), "")

    def testAnotherDirectoryStartsEmpty(self):
        with App("settings-moved-from", settings=b"[ocr]\r\nAK=a\r\nSK=s\r\n"):
            pass
        with App("settings-moved-to") as app:
            self.assertEqual(app.text(API_KEY), "")
            self.assertEqual(app.text(SECRET_KEY), "")


if __name__ == "__main__":
    unittest.main()
