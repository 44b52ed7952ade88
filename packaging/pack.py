#!/usr/bin/env python3
"""Writes a release archive whose bytes depend on the packed files only.

    pack.py zip|tar ARCHIVE NAME=SOURCE:MODE[:crlf]...

Members are written in the order given, each with the time SOURCE_DATE_EPOCH,
owner 0 and the octal MODE. A NAME ending in "/" is a folder (SOURCE empty).
"crlf" turns the file's line ends into CR LF, for text read on Windows.
The tarball is gzip-compressed without a name or time in its header.
"""
import gzip
import io
import os
import sys
import tarfile
import time
import zipfile


def members(specs):
    for spec in specs:
        name, rest = spec.split("=", 1)
        parts = rest.split(":")
        source, mode = parts[0], int(parts[1], 8)
        crlf = "crlf" in parts[2:]
        data = None
        if not name.endswith("/"):
            with open(source, "rb") as f:
                data = f.read()
            if crlf:
                data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
        yield name, mode, data


def write_zip(path, specs, epoch):
    # Zip times are local MS-DOS times with 2-second steps; UTC keeps them fixed.
    stamp = time.gmtime(epoch)[:6]
    with zipfile.ZipFile(path, "w") as z:
        for name, mode, data in members(specs):
            info = zipfile.ZipInfo(name, stamp)
            info.create_system = 3  # Unix, so that the mode below is read
            info.external_attr = ((0o040000 if data is None else 0o100000) | mode) << 16
            if data is None:
                info.external_attr |= 0x10  # MS-DOS directory bit
                z.writestr(info, b"")
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                z.writestr(info, data, compresslevel=9)


def write_tar(path, specs, epoch):
    raw = io.BytesIO()
    with tarfile.open(fileobj=raw, mode="w", format=tarfile.USTAR_FORMAT) as t:
        for name, mode, data in members(specs):
            info = tarfile.TarInfo(name.rstrip("/"))
            info.mtime = epoch
            info.mode = mode
            info.uid = info.gid = 0
            info.uname = info.gname = "root"
            if data is None:
                info.type = tarfile.DIRTYPE
                t.addfile(info)
            else:
                info.size = len(data)
                t.addfile(info, io.BytesIO(data))
    with open(path, "wb") as f:
        with gzip.GzipFile(filename="", mode="wb", fileobj=f, mtime=0, compresslevel=9) as g:
            g.write(raw.getvalue())


def main():
    if len(sys.argv) < 4 or sys.argv[1] not in ("zip", "tar"):
        print(__doc__, file=sys.stderr)
        return 2
    epoch = int(os.environ["SOURCE_DATE_EPOCH"])
    (write_zip if sys.argv[1] == "zip" else write_tar)(sys.argv[2], sys.argv[3:], epoch)
    return 0


if __name__ == "__main__":
    sys.exit(main())
