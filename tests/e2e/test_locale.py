"""The window on a Western Windows (ANSI code page 1252): Chinese text is
still counted as code page 936 bytes and survives the boxes and the file."""
import unittest

from harness import API_KEY, CONTENT, SAVE, SECRET_KEY, SPEAKER, SPEAKER_NAMES, App, gbk

LANG = "en_US.UTF-8"


class WesternLocale(unittest.TestCase):
    def testChineseTextIsCountedAndKeptOnAWesternSystem(self):
        with App("locale-en-text", lang=LANG) as app:
            self.assertEqual(app.code_page(), 1252)
            for text in ["你好a", "今天天气很好。\r\nGood weather, 25°C? 不，是二十五度！", "语" * 600]:
                with self.subTest(text=text[:10]):
                    app.set_text(CONTENT, text)
                    self.assertEqual(app.text(CONTENT), text)
                    self.assertEqual(app.counter(), str(len(gbk(text))))
            self.assertEqual(app.items(SPEAKER), SPEAKER_NAMES)
            app.set_text(CONTENT, "你好，世界")
            app.screenshot("main-window-en_US")

    def testChineseKeysReachTheFileAsGbkAndComeBack(self):
        first = App("locale-en-keys", lang=LANG)
        with first:
            first.set_text(API_KEY, "应用密钥")
            first.set_text(SECRET_KEY, "秘密key")
            first.click(SAVE)
            lines = first.ini_bytes().split(b"\r\n")
            self.assertIn(b"AK=" + gbk("应用密钥"), lines)
            self.assertIn(b"SK=" + gbk("秘密key"), lines)
        with App("locale-en-keys", lang=LANG, directory=first.dir) as second:
            self.assertEqual(second.text(API_KEY), "应用密钥")
            self.assertEqual(second.text(SECRET_KEY), "秘密key")

    def testGbkFileFromAChineseSystemLoads(self):
        settings = b"[ocr]\r\nAK=" + gbk("中文钥匙") + b"\r\nSK=plain\r\n"
        with App("locale-en-gbk-file", settings=settings, lang=LANG) as app:
            self.assertEqual(app.text(API_KEY), "中文钥匙")
            self.assertEqual(app.text(SECRET_KEY), "plain")


if __name__ == "__main__":
    unittest.main()
