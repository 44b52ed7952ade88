#!/usr/bin/env python3
"""Checks the packages scripts/release.sh wrote.

    check_release.py DIST_DIR

The version is read from project() in CMakeLists.txt. Checked: SHA256SUMS
against the two archives; the zip's and the tarball's exact member lists,
times, owners and modes; pluginst.inf line by line; kiv.wcx as PE32 for
i386 and kiv.wcx64 as PE32+ for x86-64, both without a link time and with
a VERSIONINFO naming the version and the file, and importing (objdump -p)
Windows system DLLs only; the Linux kiv.wcx an ELF x86-64 shared object
exporting the interface and nothing else, carrying the version string, and
needing (objdump -p, ldd) only libraries every distribution has: the
inflate engines are inside it; wcxhost printing the version; readme.txt
naming every setting.
Prints each check; exits 1 if any failed.
"""
import gzip
import hashlib
import io
import os
import re
import struct
import subprocess
import sys
import tarfile
import tempfile
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "windows"))
from check_pe import PE  # noqa: E402

INTERFACE = ["OpenArchive", "ReadHeader", "ProcessFile", "CloseArchive",
             "SetChangeVolProc", "SetProcessDataProc", "GetPackerCaps", "ReadHeaderEx",
             "PackSetDefaultParams", "GetBackgroundFlags"]
# The Windows files also export the wide-character twins.
WINDOWS_INTERFACE = INTERFACE + ["OpenArchiveW", "ReadHeaderExW", "ProcessFileW",
                                 "SetChangeVolProcW", "SetProcessDataProcW"]
# What the Linux library may need: the C and C++ runtimes, zlib and libbz2.
LINUX_LIBRARIES = {"libz.so.1", "libbz2.so.1.0", "libstdc++.so.6", "libgcc_s.so.1", "libc.so.6", "libm.so.6",
                   "ld-linux-x86-64.so.2"}
LINUX_EXPORTS = set(INTERFACE) | {"ExtensionInitialize", "ExtensionFinalize"}
SETTINGS = ["flatArchive", "hideEmptyDirs", "hideStoredFiles", "hideStoredLinks",
            "showDeletedFiles", "showReferenceFiles", "showReferenceLinks", "legacyCodePage"]

failures = []


def expect(ok, what):
    print(("ok    " if ok else "FAIL  ") + what)
    if not ok:
        failures.append(what)


def project_version():
    text = open(os.path.join(ROOT, "CMakeLists.txt")).read()
    return re.search(r"project\(\s*kiv\s+VERSION\s+([0-9.]+)", text).group(1)


def version_info(raw):
    """(fixed file version tuple, {string key: value}) of a VS_VERSIONINFO."""
    def node(off):
        length, vlen, vtype = struct.unpack_from("<HHH", raw, off)
        end = off + 6
        while raw[end:end + 2] != b"\0\0":
            end += 2
        key = raw[off + 6:end].decode("utf-16-le")
        value_at = (end + 2 + 3) & ~3
        size = vlen * 2 if vtype == 1 else vlen
        value = raw[value_at:value_at + size]
        children, child = [], (value_at + size + 3) & ~3
        while child < off + length:
            c = node(child)
            children.append(c)
            child = (child + c[3] + 3) & ~3
        return key, value, children, length

    key, fixed, children, _ = node(0)
    if key != "VS_VERSION_INFO" or len(fixed) < 16:
        raise ValueError("no VS_VERSION_INFO with a fixed part")
    sig, _, ms, ls = struct.unpack_from("<IIII", fixed, 0)
    if sig != 0xFEEF04BD:
        raise ValueError("bad VS_FIXEDFILEINFO signature %#x" % sig)
    strings = {}
    for k, _, tables, _ in children:
        if k == "StringFileInfo":
            for _, _, entries, _ in tables:
                for name, value, _, _ in entries:
                    strings[name] = value.decode("utf-16-le").rstrip("\0")
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF), strings


def objdump_imports(name, data, tool):
    """The DLL names `tool` -p lists for the PE file's bytes."""
    with tempfile.NamedTemporaryFile(suffix="-" + name) as f:
        f.write(data)
        f.flush()
        out = subprocess.run([tool, "-p", f.name], capture_output=True, text=True).stdout
    return [line.split(":", 1)[1].strip() for line in out.splitlines() if "DLL Name:" in line]


def check_pe(name, data, version, machine, magic):
    pe = PE(data)
    from check_pe import SYSTEM_DLLS
    tool = ("x86_64" if machine == 0x8664 else "i686") + "-w64-mingw32-objdump"
    dlls = objdump_imports(name, data, tool)
    print("--    %s imports (%s -p): %s" % (name, tool, " ".join(dlls)))
    expect(dlls and all(d.lower() in SYSTEM_DLLS for d in dlls),
           "%s: imports Windows system DLLs only (objdump -p)" % name)
    at = struct.unpack_from("<I", data, 0x3C)[0]
    stamp = struct.unpack_from("<I", data, at + 8)[0]
    expect(pe.machine == machine and pe.magic == magic and pe.characteristics & 0x2000,
           "%s: DLL, machine %#x, optional header %#x" % (name, pe.machine, pe.magic))
    expect(stamp == 0, "%s: no link time (%#x)" % (name, stamp))
    nfuncs, names = pe.exports()
    expect(sorted(names) == sorted(WINDOWS_INTERFACE), "%s: exports %s" % (name, " ".join(names)))
    raw = pe.resource(16, 1)  # RT_VERSION
    if raw is None:
        expect(False, "%s: VERSIONINFO present" % name)
        return
    fixed, strings = version_info(raw)
    numbers = tuple(int(p) for p in version.split(".")) + (0,)
    expect(fixed == numbers, "%s: FILEVERSION %s" % (name, ".".join(map(str, fixed))))
    for key, want in (("FileVersion", version), ("ProductVersion", version),
                      ("OriginalFilename", name), ("ProductName", "kiv.wcx")):
        expect(strings.get(key) == want, "%s: %s %r" % (name, key, strings.get(key)))
    for key in ("FileDescription", "LegalCopyright"):
        expect(bool(strings.get(key)), "%s: %s %r" % (name, key, strings.get(key)))


def check_elf(path, version):
    data = open(path, "rb").read()
    ok = data[:4] == b"\x7fELF" and data[4] == 2 and data[5] == 1
    etype, machine = struct.unpack_from("<HH", data, 16) if ok else (0, 0)
    expect(ok and etype == 3 and machine == 62,
           "kiv.wcx (Linux): ELF64 little-endian shared object for x86-64 (type %d, machine %d)"
           % (etype, machine))
    out = subprocess.run(["nm", "-D", "--defined-only", path], capture_output=True, text=True).stdout
    exported = {line.split()[-1] for line in out.splitlines() if " T " in line}
    missing = [f for f in INTERFACE if f not in exported]
    expect(not missing, "kiv.wcx (Linux): exports the interface" +
           (": missing " + " ".join(missing) if missing else ""))
    defined = {line.split()[-1] for line in out.splitlines() if len(line.split()) == 3}
    extra = sorted(defined - LINUX_EXPORTS)
    expect(not extra, "kiv.wcx (Linux): exports nothing else (nm -D)" + (": " + " ".join(extra) if extra else ""))
    dump = subprocess.run(["objdump", "-p", path], capture_output=True, text=True).stdout
    needed = [line.split()[1] for line in dump.splitlines() if line.strip().startswith("NEEDED")]
    print("--    kiv.wcx (Linux) needs (objdump -p): %s" % " ".join(needed))
    expect(needed and set(needed) <= LINUX_LIBRARIES,
           "kiv.wcx (Linux): needs only the C and C++ runtimes, zlib and libbz2 (objdump -p)")
    ldd = subprocess.run(["ldd", path], capture_output=True, text=True).stdout
    print("--    ldd kiv.wcx (Linux):\n" + "\n".join("--      " + l.strip() for l in ldd.splitlines()))
    resolved = {l.split()[0] for l in ldd.splitlines() if "=>" in l or l.strip().startswith("/")}
    expect("not found" not in ldd and {os.path.basename(r) for r in resolved} - {"linux-vdso.so.1"} <= LINUX_LIBRARIES,
           "kiv.wcx (Linux): ldd finds every library it needs, and no other")
    glibc = sorted({m for m in re.findall(r"GLIBC_([0-9.]+)", dump)}, key=lambda v: [int(x) for x in v.split(".")])
    print("--    kiv.wcx (Linux) needs glibc symbol versions up to %s" % (glibc[-1] if glibc else "none"))
    expect(("kiv.wcx version " + version).encode() + b"\0" in data,
           "kiv.wcx (Linux): carries 'kiv.wcx version %s'" % version)


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    dist = sys.argv[1]
    version = project_version()
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH") or subprocess.run(
        ["git", "-C", ROOT, "log", "-1", "--format=%ct"], capture_output=True, text=True).stdout)
    winzip = "kiv-wcx-%s-windows.zip" % version
    linuxdir = "kiv-wcx-%s-linux-x86_64" % version
    linuxtar = linuxdir + ".tar.gz"

    expect(sorted(os.listdir(dist)) == sorted([winzip, linuxtar, "SHA256SUMS"]),
           "dist holds %s" % " ".join(sorted(os.listdir(dist))))
    sums = open(os.path.join(dist, "SHA256SUMS")).read()
    want = "".join("%s  %s\n" % (hashlib.sha256(open(os.path.join(dist, f), "rb").read()).hexdigest(), f)
                   for f in (winzip, linuxtar))
    expect(sums == want, "SHA256SUMS matches both archives")

    # --- the Windows zip ---
    with zipfile.ZipFile(os.path.join(dist, winzip)) as z:
        infos = z.infolist()
        expect([i.filename for i in infos] == ["kiv.wcx", "kiv.wcx64", "pluginst.inf", "readme.txt"],
               "zip members %s" % " ".join(i.filename for i in infos))
        stamps = {i.date_time for i in infos}
        expect(len(stamps) == 1, "zip: one time for every member %s" % sorted(stamps))
        expect(all(not i.extra for i in infos), "zip: no extra fields (no local times)")
        files = {i.filename: z.read(i) for i in infos}
    inf = files.get("pluginst.inf", b"")
    lines = inf.split(b"\r\n")
    expect(lines[-1] == b"" and b"\n" not in inf.replace(b"\r\n", b""),
           "pluginst.inf: CR LF line ends")
    lines = [l.decode("ascii", "replace") for l in lines[:-1]]
    expect(len(lines) == 6 and lines[0] == "[plugininstall]" and re.fullmatch(r"description=\S.*", lines[1])
           and lines[2:] == ["type=wcx", "file=kiv.wcx", "defaultdir=kiv", "defaultextension=kiv"],
           "pluginst.inf: %r" % lines)
    if "kiv.wcx" in files:
        check_pe("kiv.wcx", files["kiv.wcx"], version, 0x14C, 0x10B)
    if "kiv.wcx64" in files:
        check_pe("kiv.wcx64", files["kiv.wcx64"], version, 0x8664, 0x20B)
    readme = files.get("readme.txt", b"").decode("utf-8", "replace")
    expect(version in readme and "@VERSION@" not in readme, "readme.txt: names the version, no placeholder left")
    missing = [k for k in SETTINGS if k not in readme]
    expect(not missing, "readme.txt: every kiv.ini setting" + (": missing " + " ".join(missing) if missing else ""))

    # --- the Linux tarball ---
    raw = open(os.path.join(dist, linuxtar), "rb").read()
    expect(raw[:2] == b"\x1f\x8b" and struct.unpack_from("<I", raw, 4)[0] == 0 and not raw[3] & 0x08,
           "tarball: gzip header without a time or a name")
    with tarfile.open(fileobj=io.BytesIO(gzip.decompress(raw))) as t:
        members = t.getmembers()
        listing = [(m.name, m.type, oct(m.mode), m.uid, m.gid, m.mtime) for m in members]
        want = [(linuxdir, tarfile.DIRTYPE, "0o755"),
                (linuxdir + "/kiv.wcx", tarfile.REGTYPE, "0o644"),
                (linuxdir + "/install-doublecmd.sh", tarfile.REGTYPE, "0o755"),
                (linuxdir + "/wcxhost", tarfile.REGTYPE, "0o755"),
                (linuxdir + "/readme.txt", tarfile.REGTYPE, "0o644")]
        expect([l[:3] for l in listing] == want, "tarball members %s" % [l[:3] for l in listing])
        expect(all(l[3:] == (0, 0, epoch) for l in listing), "tarball: owner 0, time of the commit (%d): %s" % (epoch, sorted({l[3:] for l in listing})))
        with tempfile.TemporaryDirectory() as tmp:
            t.extractall(tmp)
            here = os.path.join(tmp, linuxdir)
            check_elf(os.path.join(here, "kiv.wcx"), version)
            got = subprocess.run([os.path.join(here, "wcxhost"), "--version"],
                                 capture_output=True, text=True).stdout
            expect(got == "wcxhost %s\n" % version, "wcxhost --version: %r" % got)
            expect(open(os.path.join(here, "install-doublecmd.sh"), "rb").read() ==
                   open(os.path.join(ROOT, "scripts", "install-doublecmd.sh"), "rb").read(),
                   "install-doublecmd.sh is scripts/install-doublecmd.sh")
            text = open(os.path.join(here, "readme.txt"), encoding="utf-8").read()
            expect(text.replace("\n", "\r\n") == readme, "readme.txt: the same in both packages")

    if failures:
        print("release: %d failed checks" % len(failures))
        return 1
    print("release: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
