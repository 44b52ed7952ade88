#!/usr/bin/env python3
"""make_zip.py NAMES.txt OUT.zip -- a zip of empty stored members, one per
line of NAMES.txt (names ending in '/' become directory members). The
listing benchmark's comparison archive."""
import sys
import zipfile


def main():
    if len(sys.argv) != 3:
        sys.stderr.write("usage: make_zip.py NAMES.txt OUT.zip\n")
        return 2
    names, out = sys.argv[1], sys.argv[2]
    stamp = (2024, 6, 1, 12, 0, 0)
    with zipfile.ZipFile(out, "w", compression=zipfile.ZIP_STORED) as z, \
            open(names, encoding="utf-8") as lines:
        for line in lines:
            name = line.rstrip("\n")
            if not name:
                continue
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = zipfile.ZIP_STORED
            if name.endswith("/"):
                info.external_attr = 0o40755 << 16 | 0x10
            else:
                info.external_attr = 0o100644 << 16
            z.writestr(info, b"")
    return 0


if __name__ == "__main__":
    sys.exit(main())
