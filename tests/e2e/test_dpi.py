"""The window at 96 and at 144 DPI (150 %): the program is system DPI aware,
the dialog grows with its font, and so does the counter's font, which is
given in pixels. Screenshots: main-window-96dpi.png, main-window-144dpi.png.
At 144 DPI the window (about 1,580 pixels wide) is wider than the test
display, which cuts it at 1,280: its width is not compared, and the
screenshot shows the left part.

Wine takes the system DPI from LogPixels under HKCU\\Control Panel\\Desktop of
the prefix, read by each process as it starts. The test sets it for its own
runs and puts back what was there; the prefix's other tests run at 96.
"""
import re
import subprocess
import time
import unittest

from harness import CONTENT, COUNTER, START, WINE_RUN, App

DESKTOP_KEY = r"HKCU\Control Panel\Desktop"


def registry(*args):
    return subprocess.run([str(WINE_RUN), "reg", *args], stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=60, text=True, errors="replace")


def log_pixels():
    """LogPixels as the prefix has it, or None."""
    found = re.search(r"LogPixels\s+REG_DWORD\s+0x([0-9a-fA-F]+)", registry("query", DESKTOP_KEY, "/v", "LogPixels").stdout)
    return int(found.group(1), 16) if found else None


def set_log_pixels(value):
    if value is None:
        registry("delete", DESKTOP_KEY, "/v", "LogPixels", "/f")
    else:
        registry("add", DESKTOP_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(value), "/f").check_returncode()


def red_extent(png):
    """Height and width of the box around the pure red pixels of a screenshot:
    the counter's text, the only red on the test display."""
    size = subprocess.run(["identify", "-format", "%w %h", str(png)], check=True, capture_output=True,
                          text=True).stdout.split()
    width, height = int(size[0]), int(size[1])
    pixels = subprocess.run(["convert", str(png), "-depth", "8", "rgb:-"], check=True, capture_output=True).stdout
    rows, columns = [], []
    for y in range(height):
        row = pixels[y * width * 3:(y + 1) * width * 3]
        hits = [x for x in range(width) if row[3 * x] >= 200 and row[3 * x + 1] <= 60 and row[3 * x + 2] <= 60]
        if hits:
            rows.append(y)
            columns += (hits[0], hits[-1])
    if not rows:
        return 0, 0
    return rows[-1] - rows[0] + 1, max(columns) - min(columns) + 1


class Dpi(unittest.TestCase):
    def measure(self, dpi):
        set_log_pixels(dpi)
        with App(f"dpi-{dpi}") as app:
            self.assertEqual(int(app.driver("dpi")), dpi, "Wine did not take LogPixels")
            app.set_text(CONTENT, "你好")  # the counter is drawn with its own font
            sizes = {item: tuple(map(int, app.driver("rect", item).split()[4:])) for item in (START, COUNTER)}
            sizes["window height"] = (int(app.driver("rect", 0).split()[5]),)
            # Under load the counter can be painted after the first
            # screenshot: another is taken until its text shows (or a few
            # seconds have passed, and the test says so).
            for _ in range(10):
                extent = red_extent(app.screenshot(f"main-window-{dpi}dpi"))
                if extent != (0, 0):
                    break
                time.sleep(0.5)
            return sizes, extent

    def testWindowAndCounterFontScaleWithTheSystemDpi(self):
        original = log_pixels()
        try:
            sizes96, text96 = self.measure(96)
            sizes144, text144 = self.measure(144)
        finally:
            set_log_pixels(original)
        # The dialog manager scales by the font's average character size,
        # which the rasteriser rounds (7 to 10 pixels under Wine): within 8 %
        # of 150 %.
        for item in sizes96:
            for small, large in zip(sizes96[item], sizes144[item]):
                with self.subTest(item=item, at96=small, at144=large):
                    self.assertAlmostEqual(large / small, 1.5, delta=0.12)
        # The counter's glyphs, in a font of 15 pixels at 96 DPI and of 23 at
        # 144 (12 and 19 pixels of glyph under Wine; a font left at 15 keeps 12).
        self.assertGreater(text96[0], 6, "no red counter text at 96 DPI")
        with self.subTest(text96=text96, text144=text144):
            self.assertAlmostEqual(text144[0] / text96[0], 1.5, delta=0.2)


if __name__ == "__main__":
    unittest.main()
