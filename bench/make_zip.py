#!/usr/bin/env python3
"""make_zip.py NAMES.txt OUT.zip -- a zip of empty stored members, one per
line of NAMES.txt (names ending in '/' become directory members). The
listing benchmark's comparison archive.

make_zip.py --tree DIR OUT.zip stored|deflated -- a zip of the folders and
files under DIR, in name order (the many-small-files baseline)."""
import os
import sys
import zipfile

STAMP = (2024, 6, 1, 12, 0, 0)


def names_zip(names, out):
    with zipfile.ZipFile(out, "w", compression=zipfile.ZIP_STORED) as z, \
            open(names, encoding="utf-8") as lines:
        for line in lines:
            name = line.rstrip("\n")
            if not name:
                continue
            info = zipfile.ZipInfo(name, date_time=STAMP)
            info.compress_type = zipfile.ZIP_STORED
            if name.endswith("/"):
                info.external_attr = 0o40755 << 16 | 0x10
            else:
                info.external_attr = 0o100644 << 16
            z.writestr(info, b"")


def tree_zip(root, out, method):
    compression = zipfile.ZIP_DEFLATED if method == "deflated" else zipfile.ZIP_STORED
    with zipfile.ZipFile(out, "w", compression=compression) as z:
        for folder in sorted(os.listdir(root)):
            z.write(os.path.join(root, folder), folder + "/")
            for name in sorted(os.listdir(os.path.join(root, folder))):
                z.write(os.path.join(root, folder, name), folder + "/" + name)


def main():
    if len(sys.argv) == 5 and sys.argv[1] == "--tree" and sys.argv[4] in ("stored", "deflated"):
        tree_zip(sys.argv[2], sys.argv[3], sys.argv[4])
        return 0
    if len(sys.argv) != 3:
        sys.stderr.write("usage: make_zip.py NAMES.txt OUT.zip\n"
                         "       make_zip.py --tree DIR OUT.zip stored|deflated\n")
        return 2
    names_zip(sys.argv[1], sys.argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main())
