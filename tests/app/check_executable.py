#!/usr/bin/env python3
"""Checks the built QXtts.exe itself: a large-address-aware GUI PE for the
processor it is built for (--arch, i686 for the 32-bit product, x86_64 for a
64-bit test build), whose manifest names that processor, with a randomised
address and no executable data, that imports only DLLs that Windows always
takes from its own folder, carrying dialog template 1000 as the window needs it, icon
group 100 with the ICO's five sizes, the version block and the manifest.
With --release also what a released exe must be: stripped, at most 500 KB,
no link time and none of the given build paths inside.

Usage: check_executable.py <QXtts.exe> <app.ico> <windres> [--arch i686|x86_64]
                           [--version X.Y.Z] [--release [--build-path PATH ...]]
"""
import argparse
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree
from pathlib import Path

_parser = argparse.ArgumentParser()
_parser.add_argument("exe", type=Path)
_parser.add_argument("ico", type=Path)
_parser.add_argument("windres")
_parser.add_argument("--arch", choices=["i686", "x86_64"], default="i686")
_parser.add_argument("--version", default="1.0.0")
_parser.add_argument("--release", action="store_true")
_parser.add_argument("--build-path", action="append", default=[])
ARGS = _parser.parse_args() if __name__ == "__main__" else None
EXE, ICO, WINDRES = (ARGS.exe, ARGS.ico, ARGS.windres) if ARGS else (None,) * 3
RELEASE_SIZE_LIMIT = 500_000
# arch: PE machine, optional header magic, the manifest's processorArchitecture.
PROCESSORS = {"i686": (0x14C, 0x10B, "x86"), "x86_64": (0x8664, 0x20B, "amd64")}
CAPTION = "Vorin语音在线合成"
# The exe imports only DLLs that Windows takes from its own folder: any other
# DLL in the import table is looked for beside the exe first, and one found
# there runs before the program's first line. The KnownDLLs that Windows 7 SP1,
# 10 and 11 (x86 and x64) all list in HKLM\System\CurrentControlSet\Control\
# Session Manager\KnownDLLs (Microsoft Learn, "Dynamic-link library search
# order"); ntdll, which the kernel maps into every process; comctl32, which
# the manifest resolves to the side-by-side common controls 6.
KNOWN_DLLS = {"advapi32", "clbcatq", "comdlg32", "difxapi", "gdi32", "imagehlp", "imm32", "kernel32", "msctf",
              "msvcrt", "normaliz", "nsi", "ole32", "oleaut32", "psapi", "rpcrt4", "sechost", "setupapi",
              "shell32", "shlwapi", "user32", "wldap32", "ws2_32"}
ALLOWED_DLLS = {name + ".dll" for name in KNOWN_DLLS | {"ntdll", "comctl32"}}

WS_CHILD, WS_VISIBLE, WS_TABSTOP, WS_VSCROLL = 0x40000000, 0x10000000, 0x00010000, 0x00200000
SS_LEFT, SS_RIGHT, SS_CENTERIMAGE = 0x0, 0x2, 0x200
ES_CENTER, ES_MULTILINE, ES_AUTOVSCROLL, ES_AUTOHSCROLL, ES_WANTRETURN = 0x1, 0x4, 0x40, 0x80, 0x1000
BS_PUSHBUTTON, BS_AUTOCHECKBOX, CBS_DROPDOWNLIST, LWS_TRANSPARENT = 0x0, 0x3, 0x3, 0x1
WS_EX_CLIENTEDGE = 0x200
BUTTON, EDIT, STATIC, COMBOBOX = "button", "edit", "static", "combobox"
ATOMS = {0x80: BUTTON, 0x81: EDIT, 0x82: STATIC, 0x85: COMBOBOX}

BASE = WS_CHILD | WS_VISIBLE
CAPTION_LEFT = BASE | SS_LEFT | SS_CENTERIMAGE
LIST = BASE | CBS_DROPDOWNLIST | WS_TABSTOP
# id, class, text, (x, y, cx, cy), style, extended style; in template order.
CONTROLS = [
    (1002, EDIT, "", (6, 6, 588, 192), BASE | ES_MULTILINE | WS_VSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE),
    (1003, STATIC, "Secret Key:", (3, 241, 45, 12), BASE | SS_RIGHT | SS_CENTERIMAGE, 0),
    (1004, STATIC, "API Key:", (3, 256, 45, 12), BASE | SS_RIGHT | SS_CENTERIMAGE, 0),
    (1005, "syslink", "<a>点击这里查看：如何获取 API Key 和 Secret Key</a>", (36, 225, 178, 12),
     BASE | LWS_TRANSPARENT, 0),
    (1006, EDIT, "", (54, 240, 198, 12), BASE | ES_CENTER | WS_TABSTOP, WS_EX_CLIENTEDGE),
    (1007, EDIT, "", (54, 255, 198, 12), BASE | ES_CENTER | WS_TABSTOP, WS_EX_CLIENTEDGE),
    (1008, BUTTON, "保存配置", (255, 240, 39, 27), BASE | BS_PUSHBUTTON | WS_TABSTOP, 0),
    (1010, BUTTON, "开始合成", (354, 240, 240, 27), BASE | BS_PUSHBUTTON | WS_TABSTOP, 0),
    (1012, BUTTON, "重新获取VorinAccessToken（鉴权认证，每个月获取一次即可）", (357, 225, 228, 9),
     BASE | BS_AUTOCHECKBOX | WS_TABSTOP, 0),
    (1001, STATIC, "语速：", (12, 204, 27, 12), CAPTION_LEFT, 0),
    (1009, COMBOBOX, "", (42, 204, 33, 75), LIST, 0),
    (1011, COMBOBOX, "", (132, 204, 33, 75), LIST, 0),
    (1013, STATIC, "音调：", (102, 204, 27, 12), CAPTION_LEFT, 0),
    (1014, COMBOBOX, "", (225, 204, 33, 75), LIST, 0),
    (1015, STATIC, "音量：", (195, 204, 27, 12), CAPTION_LEFT, 0),
    (1016, COMBOBOX, "", (321, 204, 90, 75), LIST, 0),
    (1017, STATIC, "发音人：", (291, 204, 27, 12), CAPTION_LEFT, 0),
    (1018, STATIC, "长度限制1024，当前：46", (420, 204, 165, 12), CAPTION_LEFT, 0),
]


def read_sz_or_ord(data, pos):
    """A resource name, class or title: 0xFFFF + ordinal, or a UTF-16 string."""
    (first,) = struct.unpack_from("<H", data, pos)
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, pos + 2)[0], pos + 4
    end = pos
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def align(pos, n=4):
    return (pos + n - 1) // n * n


def resources(exe):
    """{(type, name): data} of the executable, through windres's .res output."""
    with tempfile.TemporaryDirectory() as tmp:
        res = Path(tmp) / "out.res"
        subprocess.run([WINDRES, "-J", "coff", "-i", str(exe), "-O", "res", "-o", str(res)], check=True)
        data = res.read_bytes()
    found, pos = {}, 0
    while pos < len(data):
        size, header = struct.unpack_from("<II", data, pos)
        rtype, p = read_sz_or_ord(data, pos + 8)
        name, p = read_sz_or_ord(data, p)
        body = pos + header
        if size:
            found[(rtype, name)] = data[body:body + size]
        pos = align(body + size)
    return found


def parse_dialog(data):
    ver, sig, _help, exstyle, style, count, x, y, cx, cy = struct.unpack_from("<HHIIIHhhhh", data, 0)
    assert (ver, sig) == (1, 0xFFFF), "not a DIALOGEX template"
    menu, p = read_sz_or_ord(data, 26)
    cls, p = read_sz_or_ord(data, p)
    title, p = read_sz_or_ord(data, p)
    points, weight, italic, charset = struct.unpack_from("<HHBB", data, p)
    face, p = read_sz_or_ord(data, p + 6)
    items = []
    for _ in range(count):
        p = align(p)
        _help, ex, st, ix, iy, icx, icy, iid = struct.unpack_from("<IIIhhhhI", data, p)
        icls, p = read_sz_or_ord(data, p + 24)
        text, p = read_sz_or_ord(data, p)
        (extra,) = struct.unpack_from("<H", data, p)
        p += 2 + extra
        icls = ATOMS.get(icls, icls) if isinstance(icls, int) else icls.lower()  # either form is valid
        items.append((iid, icls, text, (ix, iy, icx, icy), st, ex))
    return dict(exstyle=exstyle, style=style, rect=(x, y, cx, cy), menu=menu, cls=cls, title=title,
                points=points, face=face, items=items)


class Executable(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.exe = EXE.read_bytes()
        cls.res = resources(EXE)
        cls.ico = ICO.read_bytes()

    def testIsAGuiProgramForItsProcessor(self):
        (pe,) = struct.unpack_from("<I", self.exe, 0x3C)
        self.assertEqual(self.exe[pe:pe + 4], b"PE\0\0")
        (machine,) = struct.unpack_from("<H", self.exe, pe + 4)
        magic, = struct.unpack_from("<H", self.exe, pe + 24)
        (subsystem,) = struct.unpack_from("<H", self.exe, pe + 24 + 68)  # the same offset in PE32 and PE32+
        self.assertEqual((machine, magic, subsystem), PROCESSORS[ARGS.arch][:2] + (2,))  # GUI

    def testIsLargeAddressAware(self):
        (pe,) = struct.unpack_from("<I", self.exe, 0x3C)
        (characteristics,) = struct.unpack_from("<H", self.exe, pe + 4 + 18)
        IMAGE_FILE_LARGE_ADDRESS_AWARE = 0x0020
        self.assertTrue(characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE)

    def testImportsOnlyDllsThatCannotBeReplacedBesideIt(self):
        out = subprocess.run([WINDRES.replace("windres", "objdump"), "-p", str(EXE)], check=True,
                             capture_output=True, text=True).stdout
        dlls = {line.split(":", 1)[1].strip().lower() for line in out.splitlines() if "DLL Name:" in line}
        self.assertIn("kernel32.dll", dlls)  # the import table was read
        self.assertEqual(dlls - ALLOWED_DLLS, set())
        # The stack canary is seeded without CryptoAPI, which loads a
        # provider at every start (platform/stack_guard.cpp).
        self.assertFalse("CryptAcquireContext" in out, "the exe imports CryptoAPI")

    def testAddressSpaceLayoutRandomisedAndDataNotExecutable(self):
        (pe,) = struct.unpack_from("<I", self.exe, 0x3C)
        (characteristics,) = struct.unpack_from("<H", self.exe, pe + 4 + 18)
        (dll_characteristics,) = struct.unpack_from("<H", self.exe, pe + 24 + 70)  # PE32 and PE32+ alike
        HIGH_ENTROPY_VA, DYNAMIC_BASE, NX_COMPAT, RELOCS_STRIPPED = 0x20, 0x40, 0x100, 0x1
        wanted = DYNAMIC_BASE | NX_COMPAT | (HIGH_ENTROPY_VA if ARGS.arch == "x86_64" else 0)
        self.assertEqual(dll_characteristics & wanted, wanted, hex(dll_characteristics))
        # Without its relocations the image cannot move, whatever the flag says.
        self.assertFalse(characteristics & RELOCS_STRIPPED)

    def testDialogTemplate(self):
        d = parse_dialog(self.res[(5, 1000)])
        DS_SETFONT, DS_CENTER, WS_CAPTION, WS_SYSMENU, WS_MINIMIZEBOX = 0x40, 0x800, 0xC00000, 0x80000, 0x20000
        self.assertEqual(d["style"], WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_CENTER | DS_SETFONT)
        self.assertEqual(d["rect"], (0, 0, 600, 280))
        self.assertEqual((d["title"], d["face"], d["points"]), (CAPTION, "MS Sans Serif", 9))
        self.assertEqual(d["items"], CONTROLS)
        content = d["items"][0]
        self.assertFalse(content[4] & (ES_AUTOHSCROLL | ES_AUTOVSCROLL | ES_WANTRETURN))

    def testIconGroupHoldsEachSizeOfTheIco(self):
        # The small icon at 96, 120 and 144 DPI, the large one at 96 and 144.
        sizes = [16, 20, 24, 32, 48]
        group = self.res[(14, 100)]
        _reserved, kind, count = struct.unpack_from("<HHH", group, 0)
        self.assertEqual((kind, count), (1, len(sizes)))
        for i, size in enumerate(sizes):
            width, height, _c, _r, _p, bits, _s, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            self.assertEqual((width, height, bits), (size, size, 8))
            _w, _h, _c, _r, _p, _b, length, offset = struct.unpack_from("<BBBBHHII", self.ico, 6 + 16 * i)
            self.assertEqual(self.res[(3, icon_id)], self.ico[offset:offset + length])
        self.assertNotIn(10, {kind for kind, _name in self.res})  # no raw copy of the file

    def testVersionBlock(self):
        data = self.res[(16, 1)]
        pos = data.find(struct.pack("<I", 0xFEEF04BD))
        file_ms, file_ls, prod_ms, prod_ls = struct.unpack_from("<IIII", data, pos + 8)
        major, minor, patch = (int(part) for part in ARGS.version.split("."))
        number = ((major << 16) | minor, patch << 16)
        self.assertEqual((file_ms, file_ls, prod_ms, prod_ls), number + number)
        self.assertIn("080404B0".encode("utf-16-le"), data)
        for field in ("CompanyName", "FileDescription", "ProductName", "InternalName", "OriginalFilename",
                      "LegalCopyright", "FileVersion", "ProductVersion"):
            start = data.find((field + "\0").encode("utf-16-le"))
            value_at = align(start + len((field + "\0").encode("utf-16-le")))
            value = data[value_at:value_at + len(CAPTION) * 2].decode("utf-16-le")
            self.assertEqual(value, CAPTION, field)
        self.assertIn(struct.pack("<HH", 0x0804, 0x04B0), data)

    def testManifestAsksForCommonControls6(self):
        manifest = self.res[(24, 1)].decode("utf-8")
        self.assertIn('name="Microsoft.Windows.Common-Controls"', manifest)
        self.assertIn('version="6.0.0.0"', manifest.split("Microsoft.Windows.Common-Controls", 1)[1])

    def testManifestNamesTheProcessorItIsBuiltFor(self):
        # Windows refuses to start an exe whose identity names another
        # processor; the common controls are the system's own for any.
        root = ElementTree.fromstring(self.res[(24, 1)])
        v1 = "{urn:schemas-microsoft-com:asm.v1}"
        identity = root.find(v1 + "assemblyIdentity")
        self.assertEqual(identity.attrib.get("processorArchitecture"), PROCESSORS[ARGS.arch][2])
        dependency = root.find(f"{v1}dependency/{v1}dependentAssembly/{v1}assemblyIdentity")
        self.assertEqual(dependency.attrib.get("processorArchitecture"), "*")

    def testManifestRunsAsInvokerOnWindows7To11WithSystemDpi(self):
        root = ElementTree.fromstring(self.res[(24, 1)])
        v3, compat = "{urn:schemas-microsoft-com:asm.v3}", "{urn:schemas-microsoft-com:compatibility.v1}"
        levels = [e.attrib for e in root.iter(v3 + "requestedExecutionLevel")]
        self.assertEqual(levels, [{"level": "asInvoker", "uiAccess": "false"}])
        systems = {e.attrib["Id"].lower() for e in root.iter(compat + "supportedOS")}
        self.assertEqual(systems, {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
                                   "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
                                   "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
                                   "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})  # 10 and 11
        settings = root.find(f"{v3}application/{v3}windowsSettings")
        self.assertIsNotNone(settings, "no windowsSettings")
        aware = settings.find("{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware")
        awareness = settings.find("{http://schemas.microsoft.com/SMI/2016/WindowsSettings}dpiAwareness")
        self.assertEqual(aware.text.strip().lower() if aware is not None else None, "true")
        self.assertEqual(awareness.text.strip().lower() if awareness is not None else None, "system")


@unittest.skipUnless(ARGS and ARGS.release, "a release exe only")
class ReleaseExecutable(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.exe = EXE.read_bytes()
        (pe,) = struct.unpack_from("<I", cls.exe, 0x3C)
        cls.coff = struct.unpack_from("<HHIIIHH", cls.exe, pe + 4)

    def testAtMost500KB(self):
        self.assertLessEqual(len(self.exe), RELEASE_SIZE_LIMIT)

    def testStripped(self):
        _machine, sections, _time, symbols_at, symbols, _optional, _flags = self.coff
        self.assertEqual((symbols_at, symbols), (0, 0), "symbol table present")
        out = subprocess.run([WINDRES.replace("windres", "objdump"), "-h", str(EXE)], check=True,
                             capture_output=True, text=True).stdout
        self.assertNotIn(".debug", out)

    def testNoLinkTimeAndNoBuildPaths(self):
        self.assertEqual(self.coff[2], 0, "PE time stamp set")
        for path in ARGS.build_path:
            for encoding in ("utf-8", "utf-16-le"):
                self.assertNotIn(path.encode(encoding), self.exe, path)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
