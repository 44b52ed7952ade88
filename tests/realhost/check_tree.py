#!/usr/bin/env python3
"""check_tree.py EXPECTED OUTDIR LABEL

Compares the tree a host wrote into OUTDIR with EXPECTED (the list
kivmkrealhost writes) and prints one PASS or FAIL line per check. Exit
status 0 only when every check passed. A large file is listed by its
CRC-32 and length ("crc32=CRC/LENGTH") instead of its bytes.
"""
import os
import sys
import zlib


class Digest:
    """The CRC-32 and length of a large file's expected contents."""

    def __init__(self, field):
        crc, length = field[len("crc32="):].split("/")
        self.crc, self.length = int(crc, 16), int(length)

    def __len__(self):
        return self.length

    def matches(self, path):
        crc, length = 0, 0
        with open(path, "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                crc, length = zlib.crc32(block, crc), length + len(block)
        return (crc, length) == (self.crc, self.length), length


def load(path):
    entries = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            kind, rest = line.rstrip("\n").split(" ", 1)
            if kind == "d":
                mtime, name = rest.split(" ", 1)
                entries[name] = ("d", int(mtime), None)
            else:
                mtime, data, name = rest.split(" ", 2)
                entries[name] = ("f", int(mtime), Digest(data) if data.startswith("crc32=") else
                                 b"" if data == "-" else bytes.fromhex(data))
    return entries


def written(root):
    found = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            full = os.path.join(folder, name)
            rel = os.path.relpath(full, root).replace(os.sep, "/")
            st = os.lstat(full)
            kind = "d" if os.path.isdir(full) and not os.path.islink(full) else \
                "f" if os.path.isfile(full) and not os.path.islink(full) else "other"
            found[rel] = (kind, int(st.st_mtime), full)
    return found


def main():
    expected_path, out, label = sys.argv[1:4]
    expected = load(expected_path)
    got = written(out)
    failed = 0

    def report(name, problems):
        nonlocal failed
        if problems:
            failed += 1
            print("FAIL  %s: %s" % (label, name))
            for p in problems[:8]:
                print("        " + p)
            if len(problems) > 8:
                print("        ... and %d more" % (len(problems) - 8))
        else:
            print("PASS  %s: %s" % (label, name))

    kinds = {"d": "folder", "f": "file", "other": "neither file nor folder"}
    problems = []
    for name, (kind, _, _) in sorted(expected.items()):
        if name not in got:
            problems.append("%s missing" % name)
        elif got[name][0] != kind:
            problems.append("%s is a %s, not a %s" % (name, kinds[got[name][0]], kinds[kind]))
    report("every entry is written, folders as folders (%d entries)" % len(expected), problems)

    extra = sorted(n for n in got if n not in expected)
    report("nothing else is written (names split on '/')",
           ["unexpected %s \"%s\"" % (kinds[got[n][0]], n) for n in extra])

    def present(kind):
        return [n for n, e in sorted(expected.items()) if e[0] == kind and got.get(n, ("",))[0] == kind]

    def none_there(kind, names):
        # A check over nothing must not pass.
        wanted = sum(1 for e in expected.values() if e[0] == kind)
        return ["none of the %d could be compared" % wanted] if wanted and not names else []

    problems = none_there("f", present("f"))
    for name in present("f"):
        data = expected[name][2]
        if isinstance(data, Digest):
            same, length = data.matches(got[name][2])
        else:
            with open(got[name][2], "rb") as f:
                have = f.read()
            same, length = have == data, len(have)
        if not same:
            problems.append("%s: %d bytes, expected %d%s" % (
                name, length, len(data), "" if length != len(data) else ", other content"))
    report("file contents are the entries' (%d of %d files)" % (
        len(present("f")), sum(1 for e in expected.values() if e[0] == "f")), problems)

    for kind, what in (("f", "file"), ("d", "folder")):
        problems = none_there(kind, present(kind))
        for name in present(kind):
            mtime = expected[name][1]
            if got[name][1] != mtime:
                problems.append("%s: mtime %d, expected %d (%+d s)" % (
                    name, got[name][1], mtime, got[name][1] - mtime))
        report("%s modification times are the entries' (%d of %d %ss)" % (
            what, len(present(kind)), sum(1 for e in expected.values() if e[0] == kind), what), problems)

    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
