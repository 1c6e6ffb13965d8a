"""A stranger's winhttp.dll in the program's folder, where downloads pile up.
Windows looks there first for a DLL that is not one of its KnownDLLs; Wine
prefers its own builtin winhttp, unless WINEDLLOVERRIDES says winhttp=n,b,
which gives that one name Windows' order: a file the search finds first wins."""
import shutil
import unittest

from harness import BUILD, CONTENT, DEMO_KEYS, START, App, emulator

PLANTED = BUILD / "tests" / "e2e" / "planted_winhttp.dll"
MARKER = "planted-library-ran"  # left by the planted library when it is loaded


class WindowsSearchOrderApp(App):
    def env(self):
        env = super().env()
        env["WINEDLLOVERRIDES"] = env.get("WINEDLLOVERRIDES", "") + ";winhttp=n,b"
        return env


class PlantedLibrary(unittest.TestCase):
    def testNetworkLibraryBesideTheProgramNeverRuns(self):
        emulator({"clear_faults": True, "clear_log": True})
        app = WindowsSearchOrderApp("planted-winhttp", settings=DEMO_KEYS)
        shutil.copy2(PLANTED, app.dir / "winhttp.dll")
        with app:
            # The program needs the network library first for the proxy
            # settings of this request.
            app.set_text(CONTENT, "你好。")
            app.click(START)
            box = app.msgbox(wait=60)
        self.assertFalse((app.dir / MARKER).exists(), "the winhttp.dll beside the program ran")
        self.assertEqual(box and box["title"], "恭喜", box)


if __name__ == "__main__":
    unittest.main()
