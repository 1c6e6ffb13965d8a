"""A stranger's winhttp.dll beside the program. Wine prefers its builtin
winhttp; winhttp=n,b in WINEDLLOVERRIDES gives that name Windows' order, where
a file that the search finds first wins."""
import os
import shutil
import unittest
from unittest import mock

from harness import BUILD, CONTENT, DEMO_KEYS, START, App, emulator


class PlantedLibrary(unittest.TestCase):
    def testNetworkLibraryBesideTheProgramNeverRuns(self):
        emulator({"clear_faults": True, "clear_log": True})
        app = App("planted-winhttp", settings=DEMO_KEYS)
        shutil.copy2(BUILD / "tests" / "e2e" / "planted_winhttp.dll", app.dir / "winhttp.dll")
        overrides = os.environ.get("WINEDLLOVERRIDES", "") + ";winhttp=n,b"
        with mock.patch.dict(os.environ, WINEDLLOVERRIDES=overrides), app:
            # The request needs the network library (the proxy settings) first.
            app.set_text(CONTENT, "你好。")
            app.click(START)
            box = app.msgbox(wait=60)
        self.assertFalse((app.dir / "planted-library-ran").exists(), "the winhttp.dll beside the program ran")
        self.assertEqual(box and box["title"], "恭喜", box)


if __name__ == "__main__":
    unittest.main()
