#!/usr/bin/env python3
"""Checks the release zip that scripts/release.sh made: its entries, their
order, names and times, the checksums, and the user guide: its encoding, and
that it explains every message box text and title that the program's
sources (app/, job/) hold.

Usage: check_release.py <QXtts-X.Y.Z-win32.zip> <QXtts.exe of that build> <source root>
"""
import hashlib
import re
import subprocess
import sys
import time
import unittest
import zipfile
from pathlib import Path

ZIP, EXE, ROOT = (Path(a) for a in sys.argv[1:4]) if len(sys.argv) == 4 else (None,) * 3
NAMES = ["QXtts.exe", "使用说明.txt", "SHA256SUMS"]
# Chinese literals of app/ and job/ that no message box shows.
NOT_MESSAGES = {"宋体"}
MESSAGE_SOURCES = ["app", "job"]
WINDOW_TABLES = {"window_tables.h", "window_tables.cpp"}  # list items and the counter


def raw_name(info):
    """The name's bytes as stored (zipfile decodes unflagged names as cp437)."""
    return info.filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")


class ReleaseZip(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.zip = zipfile.ZipFile(ZIP)
        cls.infos = cls.zip.infolist()
        cls.files = {raw_name(i).decode("cp936"): cls.zip.read(i) for i in cls.infos}

    def testEntriesInOrderWithGbkNamesAndTheCommitTime(self):
        self.assertEqual([raw_name(i).decode("cp936") for i in self.infos], NAMES)
        epoch = int(subprocess.run(["git", "-C", str(ROOT), "log", "-1", "--format=%ct"], check=True,
                                   capture_output=True, text=True).stdout)
        commit_time = list(time.gmtime(epoch)[:6])
        commit_time[5] -= commit_time[5] % 2  # two-second steps
        for info in self.infos:
            with self.subTest(entry=raw_name(info)):
                self.assertEqual(list(info.date_time), commit_time)
                self.assertFalse(info.flag_bits & 0x800, "UTF-8 flag: Windows 7 would show a garbled name")
                self.assertEqual((info.create_system, info.external_attr), (0, 0x20))
        guide = self.infos[1]
        utf8 = "使用说明.txt".encode("utf-8")  # Info-ZIP Unicode path field, version 1
        self.assertTrue(guide.extra.startswith(b"up" + bytes([5 + len(utf8), 0, 1])), guide.extra)
        self.assertTrue(guide.extra.endswith(utf8))

    def testExeIsTheBuiltOneAndChecksumsMatch(self):
        self.assertEqual(self.files["QXtts.exe"], EXE.read_bytes())
        lines = self.files["SHA256SUMS"].decode("utf-8").splitlines()
        expected = ["%s  %s" % (hashlib.sha256(self.files[name]).hexdigest(), name) for name in NAMES[:2]]
        self.assertEqual(lines, expected)

    def testGuideIsUtf8WithBomAndCrLf(self):
        guide = self.files["使用说明.txt"]
        self.assertTrue(guide.startswith(b"\xef\xbb\xbf"))
        self.assertEqual(guide.count(b"\n"), guide.count(b"\r\n"))
        self.assertGreater(guide.count(b"\r\n"), 20)
        guide.decode("utf-8")

    def testGuideExplainsEveryMessage(self):
        guide = self.files["使用说明.txt"].decode("utf-8-sig")
        literals = set()
        for folder in MESSAGE_SOURCES:
            for source in sorted((ROOT / folder).glob("*.[ch]*")):
                if source.name in WINDOW_TABLES:
                    continue
                for literal in re.findall(r'L"((?:[^"\\]|\\.)*)"', source.read_text(encoding="utf-8")):
                    if re.search(r"[\u4e00-\u9fff]", literal) and literal not in NOT_MESSAGES:
                        literals.add(literal)
        self.assertGreaterEqual(len(literals), 10, literals)  # the scan found the messages
        missing = sorted(t for t in literals if '"%s"' % t not in guide and "\u201c%s\u201d" % t not in guide)
        self.assertEqual(missing, [], "messages or titles the guide does not explain (quote each in it)")
        self.assertIn("内存不足", guide)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
