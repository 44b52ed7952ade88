#!/usr/bin/env python3
"""Checks a built Windows plug-in file without running it.

    check_pe.py FILE --arch i386|x86-64

Reads the PE headers directly and checks: the machine and PE32/PE32+ form,
that it is a DLL, that it exports exactly the fifteen plug-in functions under
their plain names, that it imports Windows system DLLs only, and that the
password dialog (RT_DIALOG 101) is a classic template with the styles,
geometry, caption, font and four controls the dialog needs.
Prints what it found; exits 1 on the first list of failures.
"""
import struct
import sys

EXPORTS = sorted(["OpenArchive", "ReadHeader", "ProcessFile", "CloseArchive",
                  "SetChangeVolProc", "SetProcessDataProc", "GetPackerCaps",
                  "OpenArchiveW", "ReadHeaderEx", "ReadHeaderExW", "ProcessFileW",
                  "SetChangeVolProcW", "SetProcessDataProcW", "PackSetDefaultParams",
                  "GetBackgroundFlags"])
# DLLs every Windows installation has. Anything else (the gcc, C++, thread,
# zlib or bzip2 runtimes) would have to be shipped beside the plug-in.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll", "ws2_32.dll",
               "advapi32.dll", "gdi32.dll", "ntdll.dll", "shell32.dll"}

WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CAPTION, WS_BORDER, WS_SYSMENU = 0x00C00000, 0x00800000, 0x00080000
WS_GROUP, WS_TABSTOP = 0x00020000, 0x00010000
DS_SETFONT, DS_MODALFRAME = 0x40, 0x80
BS_PUSHBUTTON, BS_DEFPUSHBUTTON = 0x0, 0x1
ES_PASSWORD, ES_AUTOHSCROLL = 0x20, 0x80
SS_LEFT = 0x0

DIALOG_STYLE = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT
# (class atom, id, text, x, y, cx, cy, style)
CONTROLS = [
    (0x80, 1, "OK", 107, 42, 60, 14, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON),
    (0x80, 2, "Cancel", 173, 42, 60, 14, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON),
    (0x81, 1000, "", 10, 24, 215, 13,
     WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL),
    (0x82, 0xFFFF, "Password:", 3, 5, 34, 8, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT),
]
CLASS_NAMES = {"button": 0x80, "edit": 0x81, "static": 0x82}


class PE:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, nsections, _, _, _, opt_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        dirs = opt + (96 if self.magic == 0x10B else 112)
        count = struct.unpack_from("<I", data, dirs - 4)[0]
        self.dirs = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(count)]
        self.sections = []
        for i in range(nsections):
            off = opt + opt_size + 40 * i
            name = data[off:off + 8].rstrip(b"\0").decode()
            vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, off + 8)
            self.sections.append((name, va, max(vsize, rawsize), rawptr))

    def offset(self, rva):
        for _, va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("RVA %#x outside every section" % rva)

    def cstr(self, rva):
        off = self.offset(rva)
        return self.data[off:self.data.index(b"\0", off)].decode("latin-1")

    def exports(self):
        rva, size = self.dirs[0]
        if not rva:
            return 0, []
        off = self.offset(rva)
        (nfuncs, nnames, _, names_rva) = struct.unpack_from("<IIII", self.data, off + 20)
        names = [self.cstr(struct.unpack_from("<I", self.data, self.offset(names_rva) + 4 * i)[0])
                 for i in range(nnames)]
        return nfuncs, names

    def imports(self):
        found = []
        for index, stride, name_at in ((1, 20, 12), (13, 32, 4)):  # normal and delay-load
            if index >= len(self.dirs) or not self.dirs[index][0]:
                continue
            off = self.offset(self.dirs[index][0])
            while True:
                desc = self.data[off:off + stride]
                if desc == b"\0" * stride:
                    break
                found.append(self.cstr(struct.unpack_from("<I", desc, name_at)[0]))
                off += stride
        return found

    def resource(self, rtype, rid):
        """Bytes of the first language of resource (rtype, rid), or None."""
        base_rva = self.dirs[2][0]
        if not base_rva:
            return None
        base = self.offset(base_rva)

        def entries(off):
            named, ids = struct.unpack_from("<HH", self.data, off + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, off + 16 + 8 * i)
                yield name, target

        def find(off, want):
            for name, target in entries(off):
                if not name & 0x80000000 and name == want:
                    return target
            return None

        level = find(base, rtype)
        if level is None or not level & 0x80000000:
            return None
        level = find(base + (level & 0x7FFFFFFF), rid)
        if level is None or not level & 0x80000000:
            return None
        lang = next(entries(base + (level & 0x7FFFFFFF)), None)
        if lang is None or lang[1] & 0x80000000:
            return None
        data_rva, size = struct.unpack_from("<II", self.data, base + lang[1])
        off = self.offset(data_rva)
        return self.data[off:off + size]


def read_sz_or_ord(b, off):
    first = struct.unpack_from("<H", b, off)[0]
    if first == 0xFFFF:
        return struct.unpack_from("<H", b, off + 2)[0], off + 4
    end = off
    while struct.unpack_from("<H", b, end)[0] != 0:
        end += 2
    return b[off:end].decode("utf-16-le"), end + 2


def decode_dialog(b):
    """A classic DLGTEMPLATE and its DLGITEMTEMPLATEs as plain values."""
    if struct.unpack_from("<HH", b, 0) == (1, 0xFFFF):
        raise ValueError("extended dialog template (DIALOGEX), not the classic form")
    style, exstyle, count, x, y, cx, cy = struct.unpack_from("<IIHhhhh", b, 0)
    off = 18
    menu, off = read_sz_or_ord(b, off)
    cls, off = read_sz_or_ord(b, off)
    caption, off = read_sz_or_ord(b, off)
    font = None
    if style & DS_SETFONT:
        size = struct.unpack_from("<H", b, off)[0]
        face, off = read_sz_or_ord(b, off + 2)
        font = (size, face)
    items = []
    for _ in range(count):
        off = (off + 3) & ~3
        istyle, iex, ix, iy, icx, icy, iid = struct.unpack_from("<IIhhhhH", b, off)
        off += 18
        icls, off = read_sz_or_ord(b, off)
        if isinstance(icls, str):
            icls = CLASS_NAMES.get(icls.lower(), icls)
        text, off = read_sz_or_ord(b, off)
        extra = struct.unpack_from("<H", b, off)[0]
        off += 2 + extra
        items.append((icls, iid, text, ix, iy, icx, icy, istyle, iex))
    return dict(style=style, exstyle=exstyle, geometry=(x, y, cx, cy), menu=menu, cls=cls,
                caption=caption, font=font, items=items)


def main():
    if len(sys.argv) != 4 or sys.argv[2] != "--arch" or sys.argv[3] not in ("i386", "x86-64"):
        print(__doc__)
        return 2
    path, arch = sys.argv[1], sys.argv[3]
    pe = PE(open(path, "rb").read())
    failures = []

    def expect(ok, what):
        print(("ok    " if ok else "FAIL  ") + what)
        if not ok:
            failures.append(what)

    want_machine, want_magic = (0x14C, 0x10B) if arch == "i386" else (0x8664, 0x20B)
    expect(pe.machine == want_machine, "machine %#x (%s)" % (pe.machine, arch))
    expect(pe.magic == want_magic, "optional header %s" % {0x10B: "PE32", 0x20B: "PE32+"}.get(pe.magic, hex(pe.magic)))
    expect(pe.characteristics & 0x2000 != 0, "is a DLL")

    nfuncs, names = pe.exports()
    print("      exports: " + " ".join(names))
    expect(sorted(names) == EXPORTS and nfuncs == len(EXPORTS),
           "exactly the fifteen plain export names (%d functions)" % nfuncs)

    dlls = pe.imports()
    print("      imports: " + " ".join(dlls))
    foreign = [d for d in dlls if d.lower() not in SYSTEM_DLLS]
    expect(dlls and not foreign, "system DLLs only" + (": not " + ", ".join(foreign) if foreign else ""))

    raw = pe.resource(5, 101)  # RT_DIALOG
    expect(raw is not None, "dialog resource 101 present")
    if raw is not None:
        try:
            d = decode_dialog(raw)
        except ValueError as e:
            expect(False, str(e))
        else:
            expect(d["style"] == DIALOG_STYLE and d["exstyle"] == 0,
                   "dialog style %#010x, extended %#x" % (d["style"], d["exstyle"]))
            expect(d["geometry"] == (0, 0, 240, 62), "dialog at %d,%d size %dx%d" % d["geometry"])
            expect(d["menu"] == "" and d["cls"] == "", "no menu, default class")
            expect(d["caption"] == "Password required!", "caption %r" % d["caption"])
            expect(d["font"] == (8, "MS Shell Dlg"), "font %r" % (d["font"],))
            got = [it[:8] for it in d["items"]]
            for i, want in enumerate(CONTROLS):
                have = got[i] if i < len(got) else None
                shown = ("class %#x id %d text %r at %d,%d size %dx%d style %#010x" % have
                         if have else "missing")
                expect(have == want and d["items"][i][8] == 0, "control %d: %s" % (i + 1, shown))
            expect(len(got) == len(CONTROLS), "%d controls" % len(got))

    if failures:
        print("%s: %d failed checks" % (path, len(failures)))
        return 1
    print("%s: all checks passed" % path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
