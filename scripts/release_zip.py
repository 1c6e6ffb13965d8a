#!/usr/bin/env python3
"""Packs the release zip: QXtts.exe, 使用说明.txt and SHA256SUMS, in that
order, every entry with the same time (the commit's) and the same
attributes, so that the zip's bytes depend on its contents alone.

The guide's source is UTF-8 with LF line ends; the zip carries it with a
byte order mark and CR LF, as Notepad on Windows 7 needs.

Entry names are stored in code page 936 without the zip format's UTF-8
flag: the zip folders of Windows 7 and 8 ignore that flag and read names
in the system's OEM code page, which is 936 on Chinese Windows. An Info-ZIP
Unicode path field carries the UTF-8 name for the tools that read it
(7-Zip, unzip).

Usage: release_zip.py --epoch SECONDS --exe QXtts.exe --guide user-guide.txt --out X.zip
"""
import argparse
import hashlib
import os
import struct
import sys
import time
import zipfile
import zlib

GUIDE_NAME = "使用说明.txt"
EXE_NAME = "QXtts.exe"
SUMS_NAME = "SHA256SUMS"


class Cp936NameInfo(zipfile.ZipInfo):
    def _encodeFilenameFlags(self):
        return self.filename.encode("cp936"), self.flag_bits & ~0x800


def entry(name, date_time):
    info = Cp936NameInfo(name, date_time)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 0  # MS-DOS: no Unix permissions from the packing machine
    info.external_attr = 0x20  # FILE_ATTRIBUTE_ARCHIVE
    encoded = name.encode("cp936")
    if encoded != name.encode("utf-8"):
        utf8 = name.encode("utf-8")
        info.extra = struct.pack("<HHBI", 0x7075, 5 + len(utf8), 1, zlib.crc32(encoded)) + utf8
    return info


def guide_bytes(path):
    text = open(path, encoding="utf-8").read()
    if text.startswith("\ufeff"):
        text = text[1:]
    return b"\xef\xbb\xbf" + text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--epoch", type=int, required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--guide", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    # Zip times are local times without a zone and cannot go before 1980;
    # the commit's UTC time, in two-second steps, is what every entry gets.
    date_time = time.gmtime(max(args.epoch, 315532800))[:6]
    files = [(EXE_NAME, open(args.exe, "rb").read()), (GUIDE_NAME, guide_bytes(args.guide))]
    sums = "".join("%s  %s\n" % (hashlib.sha256(data).hexdigest(), name) for name, data in files)
    files.append((SUMS_NAME, sums.encode("utf-8")))

    temporary = args.out + ".part"
    with zipfile.ZipFile(temporary, "w") as archive:
        for name, data in files:
            archive.writestr(entry(name, date_time), data, compress_type=zipfile.ZIP_DEFLATED, compresslevel=9)
    os.replace(temporary, args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
