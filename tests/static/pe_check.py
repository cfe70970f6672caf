#!/usr/bin/env python3
"""Static checks of a Windows program built here, without running it.

    pe_check.py [--machine i386|amd64] [--gui] [--manifest] [--version X.Y.Z.W]
                [--resource TYPE/NAME ...] [--archives] PROGRAM

Always checked: the import table (and the delay-load table) names only DLLs
that every supported Windows has in its system folder, so the program starts
on a bare system and no library of the toolchain (zlib1.dll, libstdc++-6.dll,
libgcc_s_*.dll, libwinpthread-1.dll) is needed beside it. The import table
proper, which Windows resolves before any of the program's code runs, names
Known DLLs only (comctl32 aside, bound through the manifest): any other DLL
is looked up in the program's own folder first, often the user's Downloads,
and must be delay-loaded instead (the program loads those from the system
folder). No import, delayed or not, is a function that Windows 7 SP1 without
optional updates lacks (after_win7.txt beside this script).
--manifest: the manifest asks for administrator rights, binds common controls 6
and declares per-monitor DPI awareness.
--archives: every ZIP resource is opened and each program or library inside
it is checked the same way (same machine, same import rule).
Prints one line per finding; exits 1 when any check fails.
"""
import argparse
import io
import os
import struct
import sys
import zipfile

# DLLs in the system folder of every Windows from 7 SP1 on (without optional
# updates). comctl32 is bound to version 6 through the manifest.
SYSTEM_DLLS = {
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll",
    "gdi32.dll", "gdiplus.dll", "iphlpapi.dll", "kernel32.dll", "msimg32.dll",
    "msvcrt.dll", "mswsock.dll", "ntdll.dll", "ole32.dll", "oleaut32.dll",
    "secur32.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "userenv.dll",
    "uxtheme.dll", "version.dll", "winmm.dll", "wininet.dll", "wintrust.dll",
    "ws2_32.dll",
}

# Known DLLs of every Windows from 7 SP1 on (HKLM\System\CurrentControlSet\
# Control\Session Manager\KnownDLLs, the names common to Windows 7 and 10/11):
# always mapped from the system folder, never looked up beside the program.
# ntdll is always the system's.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "comdlg32.dll", "difxapi.dll", "gdi32.dll", "imagehlp.dll",
    "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll", "ntdll.dll", "ole32.dll",
    "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shell32.dll",
    "shlwapi.dll", "user32.dll", "wldap32.dll", "ws2_32.dll",
}
# Bound to the side-by-side version 6 through the manifest, not by search.
MANIFEST_BOUND = {"comctl32.dll"}


def load_after_win7():
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "after_win7.txt")
    with open(path) as f:
        return {line.strip() for line in f if line.strip() and not line.startswith("#")}


AFTER_WIN7 = load_after_win7()

MACHINES = {"i386": 0x14C, "amd64": 0x8664}
RT_VERSION = 16
RT_MANIFEST = 24


class PeError(Exception):
    pass


class Pe:
    """The parts of a PE image the checks read."""

    def __init__(self, data):
        self.data = data
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise PeError("not a PE image (no MZ header)")
        off = self.u32(0x3C)
        if data[off:off + 4] != b"PE\0\0":
            raise PeError("not a PE image (no PE signature)")
        self.machine, nsec = struct.unpack_from("<HH", data, off + 4)
        opt_size = self.u16(off + 20)
        self.characteristics = self.u16(off + 22)
        opt = off + 24
        self.magic = self.u16(opt)
        if self.magic == 0x10B:
            self.subsystem = self.u16(opt + 68)
            dirs, ndirs = opt + 96, self.u32(opt + 92)
        elif self.magic == 0x20B:
            self.subsystem = self.u16(opt + 68)
            dirs, ndirs = opt + 112, self.u32(opt + 108)
        else:
            raise PeError("unknown optional header magic 0x%x" % self.magic)
        self.dirs = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(min(ndirs, 16))]
        self.sections = []
        sec = opt + opt_size
        self.section_names = []
        for i in range(nsec):
            vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, sec + 40 * i + 8)
            self.sections.append((va, max(vsize, rawsize), rawptr, rawsize))
            self.section_names.append(data[sec + 40 * i:sec + 40 * i + 8].rstrip(b"\0").decode("latin-1"))

    def u16(self, off):
        return struct.unpack_from("<H", self.data, off)[0]

    def u32(self, off):
        return struct.unpack_from("<I", self.data, off)[0]

    def offset(self, rva):
        for va, size, rawptr, rawsize in self.sections:
            if va <= rva < va + size:
                if rva - va >= rawsize:
                    raise PeError("RVA 0x%x has no file data" % rva)
                return rawptr + rva - va
        raise PeError("RVA 0x%x is in no section" % rva)

    def cstr(self, rva):
        off = self.offset(rva)
        end = self.data.index(b"\0", off)
        return self.data[off:end].decode("latin-1")

    def directory(self, index):
        return self.dirs[index] if index < len(self.dirs) else (0, 0)

    def imports(self):
        """{dll name (lower case): [function names]} of the import and delay-load tables."""
        result = {}
        for table in (self.static_imports(), self.delayed_imports()):
            for dll, funcs in table.items():
                result.setdefault(dll, []).extend(funcs)
        return result

    def static_imports(self):
        """The import table proper: what Windows binds before the program runs."""
        result = {}
        rva, size = self.directory(1)
        if rva:
            off = self.offset(rva)
            while True:
                ilt, _, _, name, iat = struct.unpack_from("<IIIII", self.data, off)
                if name == 0:
                    break
                result.setdefault(self.cstr(name).lower(), []).extend(self._thunks(ilt or iat))
                off += 20
        return result

    def delayed_imports(self):
        """The delay-load descriptors: those of the data directory, and those
        GNU ld links in from dlltool's delay-import libraries without
        listing them there (found by their shape: attributes 1, then the
        RVAs of a DLL name, its handle, its IAT and its name table)."""
        result = {}
        rva, size = self.directory(13)
        descriptors = []
        if rva:
            off = self.offset(rva)
            while True:
                desc = struct.unpack_from("<IIIII", self.data, off)
                if desc[1] == 0:
                    break
                descriptors.append(desc)
                off += 32
        else:
            for (va, vsize, rawptr, rawsize), sname in zip(self.sections, self.section_names):
                if sname in (".rsrc", ".reloc") or sname.startswith(".debug"):
                    continue
                for off in range(rawptr, rawptr + rawsize - 31, 4):
                    desc = struct.unpack_from("<IIIIIIII", self.data, off)
                    if desc[0] != 1 or desc[5] or desc[6] or desc[7] or not all(desc[1:5]):
                        continue
                    try:
                        name = self.cstr(desc[1])
                        self.offset(desc[2]), self.offset(desc[3]), self.offset(desc[4])
                    except (PeError, ValueError):
                        continue
                    if name.lower().endswith(".dll") and name.isprintable():
                        descriptors.append(desc[:5])
        for desc in descriptors:
            result.setdefault(self.cstr(desc[1]).lower(), []).extend(self._thunks(desc[4]))
        return result

    def _thunks(self, rva):
        names = []
        wide = self.magic == 0x20B
        step, fmt, flag = (8, "<Q", 1 << 63) if wide else (4, "<I", 1 << 31)
        off = self.offset(rva)
        while True:
            value = struct.unpack_from(fmt, self.data, off)[0]
            if value == 0:
                return names
            # By ordinal, or the RVA of a hint (2 bytes) and a name.
            names.append("#%d" % (value & 0xFFFF) if value & flag else self.cstr((value & 0x7FFFFFFF) + 2))
            off += step

    def resources(self):
        """[(type, name, bytes)]; type and name are ints or upper-case strings."""
        rva, _ = self.directory(2)
        if not rva:
            return []
        base = self.offset(rva)
        found = []

        def entries(table):
            named, ids = struct.unpack_from("<HH", self.data, base + table + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, base + table + 16 + 8 * i)
                if name & 0x80000000:
                    p = base + (name & 0x7FFFFFFF)
                    n = self.u16(p)
                    key = self.data[p + 2:p + 2 + 2 * n].decode("utf-16-le").upper()
                else:
                    key = name
                yield key, target

        for rtype, t in entries(0):
            for rname, n in entries(t & 0x7FFFFFFF):
                for _, leaf in entries(n & 0x7FFFFFFF):
                    data_rva, size = struct.unpack_from("<II", self.data, base + (leaf & 0x7FFFFFFF))
                    off = self.offset(data_rva)
                    found.append((rtype, rname, self.data[off:off + size]))
        return found


def file_version(block):
    """FILEVERSION of a VS_VERSIONINFO block, as "a.b.c.d"."""
    i = block.find(struct.pack("<I", 0xFEEF04BD))
    if i < 0:
        return None
    ms, ls = struct.unpack_from("<II", block, i + 8)
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def check_imports(pe, label, problems):
    for dll, funcs in sorted(pe.imports().items()):
        if dll not in SYSTEM_DLLS:
            problems.append("%s imports %s, which is not in the system folder of every supported Windows" % (label, dll))
        for f in sorted(set(funcs) & AFTER_WIN7):
            problems.append("%s imports %s!%s, which Windows 7 SP1 without optional updates lacks" % (label, dll, f))
    for dll in sorted(pe.static_imports()):
        if dll in SYSTEM_DLLS and dll not in KNOWN_DLLS | MANIFEST_BOUND:
            problems.append("%s imports %s at start-up, which is not a Known DLL: Windows looks for it beside "
                            "the program first; it must be delay-loaded" % (label, dll))


def check(path, args):
    problems = []
    data = open(path, "rb").read()
    pe = Pe(data)
    want = MACHINES[args.machine]
    if pe.machine != want:
        problems.append("%s: machine 0x%x, expected %s" % (path, pe.machine, args.machine))
    if args.machine == "i386" and pe.magic != 0x10B:
        problems.append("%s: not PE32" % path)
    if args.gui and pe.subsystem != 2:
        problems.append("%s: subsystem %d, expected the GUI subsystem (2)" % (path, pe.subsystem))
    check_imports(pe, path, problems)
    res = pe.resources()
    if args.manifest:
        manifests = [d for t, _, d in res if t == RT_MANIFEST]
        text = manifests[0].decode("utf-8", "replace") if manifests else ""
        if 'level="requireAdministrator"' not in text:
            problems.append("%s: the manifest does not ask for administrator rights" % path)
        if "Microsoft.Windows.Common-Controls" not in text or 'version="6.0.0.0"' not in text:
            problems.append("%s: the manifest does not bind common controls 6" % path)
        # Sharp at every display scale: per-monitor aware, system aware before Windows 8.1.
        if ">true/pm</dpiAware>" not in text or "PerMonitorV2" not in text:
            problems.append("%s: the manifest does not declare per-monitor DPI awareness" % path)
    if args.version:
        versions = [file_version(d) for t, _, d in res if t == RT_VERSION]
        if args.version not in versions:
            problems.append("%s: FileVersion %s, expected %s" % (path, versions or "missing", args.version))
        elif args.version.encode("utf-16-le") not in b"".join(d for t, _, d in res if t == RT_VERSION):
            problems.append("%s: the version strings do not say %s" % (path, args.version))
    names = {(t, n) for t, n, _ in res}
    for wanted in args.resource:
        rtype, _, rname = wanted.upper().partition("/")
        if (rtype, rname) not in names:
            problems.append("%s: resource %s missing" % (path, wanted))
    if args.archives:
        for rtype, rname, blob in res:
            if blob[:4] != b"PK\3\4":
                continue
            try:
                archive = zipfile.ZipFile(io.BytesIO(blob))
            except zipfile.BadZipFile as e:
                problems.append("%s: resource %s/%s is a damaged archive: %s" % (path, rtype, rname, e))
                continue
            for member in archive.namelist():
                if not member.lower().endswith((".exe", ".dll")):
                    continue
                label = "%s!%s/%s:%s" % (path, rtype, rname, member)
                try:
                    inner = Pe(archive.read(member))
                except PeError as e:
                    problems.append("%s: %s" % (label, e))
                    continue
                if inner.machine != want:
                    problems.append("%s: machine 0x%x, expected %s" % (label, inner.machine, args.machine))
                check_imports(inner, label, problems)
                print("pe_check: %s: imports %s" % (label, ", ".join(sorted(inner.imports()))))
    print("pe_check: %s: imports %s" % (path, ", ".join(sorted(pe.imports()))))
    return problems


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--machine", choices=sorted(MACHINES), default="i386")
    ap.add_argument("--gui", action="store_true")
    ap.add_argument("--manifest", action="store_true")
    ap.add_argument("--version")
    ap.add_argument("--resource", action="append", default=[])
    ap.add_argument("--archives", action="store_true")
    ap.add_argument("program")
    args = ap.parse_args()
    try:
        problems = check(args.program, args)
    except (PeError, struct.error, ValueError, OSError) as e:
        problems = ["%s: %s" % (args.program, e)]
    for p in problems:
        print("pe_check: FAIL: " + p)
    if not problems:
        print("pe_check: %s passed" % args.program)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
