#!/usr/bin/env python3
"""Boots the loader pair (qxldr.mbr, qxldr) in qemu-system-i386 the way a
machine does after the restart, without root rights: every disk is built in
a plain file.

The disk holds, in its first sector, a small first stage that does what the
Windows boot manager does for a boot-sector entry: it loads the stub file
(kept in the otherwise empty gap before the first partition) to 0000:7C00
and jumps to it with DL = the boot drive. The partitions (FAT32 or NTFS) get
the files a case asks for, typically the loader and \\Boot\\Win8PE.iso.

Used as a library by emulator_cases.py and as a command by anyone who wants
to boot a given stub, loader and image:

    bootdisk.py --mbr qxldr.mbr --loader qxldr [--image ISO --expect TEXT]
                [--fs fat32|ntfs] [--image-path '\\Boot\\Win8PE.iso']

Without --image a tiny bootable ISO is made whose code writes a marker to
the first serial port; the run passes when the expected text appears on the
serial port before the time-out. Needs qemu-system-x86, mtools, dosfstools,
ntfs-3g (its library), xorriso and binutils.
"""
import argparse
import ctypes
import ctypes.util
import os
import re
import socket
import shutil
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent
SECTOR = 512
FIRST_PARTITION_LBA = 2048
# Where the first stage finds the stub: well inside the gap before the first
# partition, not right after the first sector, so that a stub that wrongly
# reads its own tail from the sectors after the MBR does not find it there.
STUB_LBA = 64
DAP_OFFSET = 0x1A0  # the first stage's disk address packet (see stage1.S)
SERIAL_BASE_MARKER = "CORVANE-ISO-BOOTED:"


class BootDiskError(Exception):
    pass


def run(cmd, **kw):
    try:
        return subprocess.run(cmd, check=True, capture_output=True, **kw)
    except FileNotFoundError as e:
        raise BootDiskError(f"missing tool {cmd[0]} ({e})") from e
    except subprocess.CalledProcessError as e:
        raise BootDiskError(f"{' '.join(map(str, cmd))} failed: "
                            f"{e.stderr.decode(errors='replace').strip()}") from e


def assemble(source, work):
    """Assembles a 16-bit source into a flat binary (GNU as and ld)."""
    work = Path(work)
    obj = work / (Path(source).stem + ".o")
    out = work / (Path(source).stem + ".bin")
    run(["as", "--32", "-o", obj, source])
    run(["ld", "-m", "elf_i386", "--oformat", "binary", "-Ttext", "0", "-e", "_start", "-o", out, obj])
    return out.read_bytes()


# ---- the tiny bootable image ------------------------------------------------

def marker_for(tag):
    return SERIAL_BASE_MARKER + tag


def make_marker_iso(tag, out, work):
    """A bootable ISO (El Torito, no emulation) whose boot code writes
    marker_for(tag) to COM1 and then stops the machine with a triple fault,
    which ends qemu because it runs with -no-reboot."""
    work = Path(work)
    code = assemble(HERE / "marker.S", work) + marker_for(tag).encode() + b"\0"
    tree = work / f"iso-{tag}"
    tree.mkdir(parents=True, exist_ok=True)
    (tree / "boot.bin").write_bytes(code.ljust(2048, b"\0"))
    run(["xorriso", "-as", "mkisofs", "-quiet", "-V", "WIN8PE", "-b", "boot.bin", "-no-emul-boot",
         "-boot-load-size", "4", "-o", out, tree])
    return Path(out)


# ---- file systems -----------------------------------------------------------

@dataclass
class Partition:
    fs: str                                    # "fat32" or "ntfs"
    files: dict = field(default_factory=dict)  # "\\Boot\\Win8PE.iso" -> source path (None: a folder)
    active: bool = False
    windows_names: bool = False                # NTFS: add DOS names as Windows does
    size_mb: int = 0                           # 0: the smallest sound size for fs

    def sectors(self):
        mb = self.size_mb or (40 if self.fs == "fat32" else 16)
        return mb * 2048

    def type_byte(self):
        return 0x0C if self.fs == "fat32" else 0x07


def _components(path):
    return [c for c in path.replace("/", "\\").split("\\") if c]


def make_fat32(img, part, start_lba):
    # One sector per cluster keeps a 40 MB partition a true FAT32 (more than
    # 65525 clusters), as Windows formats a system partition.
    run(["mkfs.fat", "-F", "32", "-s", "1", "-g", "255/63", "-h", str(start_lba), "-n", "SYSTEM", img])
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    made = set()
    for path, source in part.files.items():
        comps = _components(path)
        folders = len(comps) if source is None else len(comps) - 1
        for i in range(1, folders + 1):
            d = "/".join(comps[:i])
            if d not in made:
                run(["mmd", "-D", "s", "-i", img, "::/" + d], env=env)
                made.add(d)
        if source is not None:
            run(["mcopy", "-D", "o", "-i", img, source, "::/" + "/".join(comps)], env=env)


class _Ntfs:
    """Just enough of libntfs-3g (the library of the ntfs-3g tools) to create
    folders and files in an NTFS image file without mounting it. Names are
    made as ntfs-3g makes them, in the POSIX name space; with windows_names
    each also gets its DOS name, as Windows gives a name that fits 8.3."""
    AT_DATA = 0x80
    S_IFDIR = 0o040000
    S_IFREG = 0o100000

    def __init__(self):
        name = ctypes.util.find_library("ntfs-3g") or "libntfs-3g.so.89"
        try:
            self.lib = ctypes.CDLL(name)
        except OSError as e:
            raise BootDiskError(f"libntfs-3g (package ntfs-3g) not found: {e}") from e
        lib = self.lib
        vp = ctypes.c_void_p
        lib.ntfs_mount.restype = vp
        lib.ntfs_mount.argtypes = [ctypes.c_char_p, ctypes.c_ulong]
        lib.ntfs_umount.argtypes = [vp, ctypes.c_int]
        lib.ntfs_pathname_to_inode.restype = vp
        lib.ntfs_pathname_to_inode.argtypes = [vp, vp, ctypes.c_char_p]
        lib.ntfs_mbstoucs.argtypes = [ctypes.c_char_p, ctypes.POINTER(vp)]
        lib.ntfs_create.restype = vp
        lib.ntfs_create.argtypes = [vp, ctypes.c_uint32, vp, ctypes.c_uint8, ctypes.c_uint32]
        lib.ntfs_attr_open.restype = vp
        lib.ntfs_attr_open.argtypes = [vp, ctypes.c_uint32, vp, ctypes.c_uint32]
        lib.ntfs_attr_pwrite.restype = ctypes.c_int64
        lib.ntfs_attr_pwrite.argtypes = [vp, ctypes.c_int64, ctypes.c_int64, ctypes.c_char_p]
        lib.ntfs_attr_close.argtypes = [vp]
        lib.ntfs_inode_close.argtypes = [vp]
        lib.ntfs_set_ntfs_dos_name.argtypes = [vp, vp, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_int]
        self.unnamed = ctypes.addressof(ctypes.c_uint16.in_dll(lib, "AT_UNNAMED"))

    @staticmethod
    def dos_name(name):
        base, dot, ext = name.partition(".")
        ok = 0 < len(base) <= 8 and len(ext) <= 3 and "." not in ext and \
            all(c.isalnum() or c in "_-~!#$%&'()@^`{}" for c in base + ext) and name.isascii()
        return name.upper() if ok else None

    def _make(self, vol, comps, source, windows_names):
        """Creates comps[-1] in the folder comps[:-1]; closes what it opens."""
        lib = self.lib
        parent_path = "/" + "/".join(comps[:-1])
        parent = lib.ntfs_pathname_to_inode(vol, None, parent_path.encode())
        if not parent:
            raise BootDiskError(f"NTFS: no folder {parent_path}")
        ucs = ctypes.c_void_p()
        n = lib.ntfs_mbstoucs(comps[-1].encode(), ctypes.byref(ucs))
        mode = self.S_IFDIR if source is None else self.S_IFREG
        ni = lib.ntfs_create(parent, 0, ucs, n, mode) if n > 0 else None
        if not ni:
            lib.ntfs_inode_close(parent)
            raise BootDiskError(f"NTFS: cannot create {'/'.join(comps)}")
        ok = True
        if source is not None:
            na = lib.ntfs_attr_open(ni, self.AT_DATA, self.unnamed, 0)
            ok = bool(na)
            with open(source, "rb") as f:
                pos = 0
                while ok:
                    chunk = f.read(1 << 20)
                    if not chunk:
                        break
                    ok = lib.ntfs_attr_pwrite(na, pos, len(chunk), chunk) == len(chunk)
                    pos += len(chunk)
            if na:
                lib.ntfs_attr_close(na)
        dos = self.dos_name(comps[-1]) if windows_names else None
        if dos:
            # Closes both inodes.
            ok = lib.ntfs_set_ntfs_dos_name(ni, parent, dos.encode(), len(dos), 0) == 0 and ok
        else:
            lib.ntfs_inode_close(ni)
            lib.ntfs_inode_close(parent)
        if not ok:
            raise BootDiskError(f"NTFS: cannot write {'/'.join(comps)}")

    def populate(self, img, files, windows_names=False):
        lib = self.lib
        vol = lib.ntfs_mount(str(img).encode(), 0)
        if not vol:
            raise BootDiskError(f"NTFS: cannot open {img}")
        try:
            made = set()
            for path, source in files.items():
                comps = _components(path)
                for i in range(1, len(comps)):
                    if "/".join(comps[:i]) not in made:
                        self._make(vol, comps[:i], None, windows_names)
                        made.add("/".join(comps[:i]))
                self._make(vol, comps, source, windows_names)
        finally:
            if lib.ntfs_umount(vol, 0) != 0:
                raise BootDiskError(f"NTFS: cannot close {img}")


def make_ntfs(img, part, start_lba):
    run(["mkntfs", "-F", "-Q", "-q", "-s", "512", "-c", "4096", "-p", str(start_lba), "-H", "255", "-S", "63",
         "-L", "SYSTEM", img])
    _Ntfs().populate(img, part.files, part.windows_names)


# ---- the disk ---------------------------------------------------------------

def _chs(lba):
    c, rest = divmod(lba, 255 * 63)
    h, s = divmod(rest, 63)
    if c > 1023:
        return bytes([0xFE, 0xFF, 0xFF])
    return bytes([h, ((c >> 2) & 0xC0) | (s + 1), c & 0xFF])


def _copy_sparse(src, dst_file, offset):
    with open(src, "rb") as f:
        pos = 0
        while True:
            chunk = f.read(1 << 20)
            if not chunk:
                break
            if chunk.count(0) != len(chunk):
                dst_file.seek(offset + pos)
                dst_file.write(chunk)
            pos += len(chunk)


def build_disk(out, stub, partitions, work, stage1=None):
    """Writes a disk image file: first stage in sector 0, the stub at
    STUB_LBA, the partitions from FIRST_PARTITION_LBA on, in order."""
    if not 1 <= len(partitions) <= 4:
        raise BootDiskError("one to four primary partitions")
    work = Path(work)
    stub = Path(stub).read_bytes()
    stub_sectors = -(-len(stub) // SECTOR)
    if STUB_LBA + stub_sectors > FIRST_PARTITION_LBA or stub_sectors > 127:
        raise BootDiskError("stub too large for the gap before the first partition")
    code = bytearray(stage1 if stage1 is not None else assemble(HERE / "stage1.S", work))
    if len(code) > 0x1B8:
        raise BootDiskError("first stage too large")
    mbr = bytearray(SECTOR)
    mbr[:len(code)] = code
    # The disk address packet: count of sectors and the start of the stub.
    mbr[DAP_OFFSET + 2:DAP_OFFSET + 4] = stub_sectors.to_bytes(2, "little")
    mbr[DAP_OFFSET + 8:DAP_OFFSET + 16] = STUB_LBA.to_bytes(8, "little")
    mbr[0x1B8:0x1BC] = (0x434F5256).to_bytes(4, "little")  # disk signature
    lba = FIRST_PARTITION_LBA
    layout = []
    for i, part in enumerate(partitions):
        n = part.sectors()
        entry = bytes([0x80 if part.active else 0]) + _chs(lba) + bytes([part.type_byte()]) + _chs(lba + n - 1) \
            + lba.to_bytes(4, "little") + n.to_bytes(4, "little")
        mbr[0x1BE + 16 * i:0x1BE + 16 * (i + 1)] = entry
        layout.append((lba, n))
        lba += n
    mbr[510:512] = b"\x55\xAA"
    total = lba + 2048
    with open(out, "wb") as disk:
        disk.truncate(total * SECTOR)
        disk.write(mbr)
        disk.seek(STUB_LBA * SECTOR)
        disk.write(stub)
        for i, (part, (start, n)) in enumerate(zip(partitions, layout)):
            img = work / f"part{i}.img"
            if img.exists():
                img.unlink()
            with open(img, "wb") as f:
                f.truncate(n * SECTOR)
            (make_fat32 if part.fs == "fat32" else make_ntfs)(img, part, start)
            _copy_sparse(img, disk, start * SECTOR)
            img.unlink()
    return Path(out)


# ---- the emulator -----------------------------------------------------------

def qemu_command(disk, serial, monitor, memory_mb=256, disk_interface="ide"):
    # The loaders see the disk only through the BIOS (INT 13h); "virtio"
    # reads large images about twice as fast as IDE in the emulator.
    return ["qemu-system-i386", "-machine", "pc", "-accel", "tcg", "-m", str(memory_mb),
            "-display", "none", "-serial", f"file:{serial}", "-monitor", f"unix:{monitor},server=on,wait=off",
            "-nic", "none", "-no-reboot", "-boot", "c",
            "-drive", f"file={disk},format=raw,if={disk_interface},index=0"]


def read_screen(monitor):
    """The text on the emulated VGA text screen (80 x 25), read from video
    memory through the emulator's monitor; "" when it cannot be read."""
    try:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(5)
            s.connect(str(monitor))

            def until_prompt():
                data = b""
                while not data.endswith(b"(qemu) "):
                    chunk = s.recv(65536)
                    if not chunk:
                        break
                    data += chunk
                return data.decode(errors="replace")

            until_prompt()
            s.sendall(b"xp /2000hx 0xb8000\n")
            answer = until_prompt()
    except OSError:
        return ""
    cells = []
    for line in answer.splitlines():
        if re.match(r"^[0-9a-f]+: 0x", line.strip()):
            cells += [int(v, 16) & 0xFF for v in re.findall(r"0x([0-9a-f]{4})", line.split(":", 1)[1])]
    text = bytes(c or 0x20 for c in cells).decode("cp437", errors="replace")
    rows = [text[i:i + 80].rstrip() for i in range(0, len(text), 80)]
    return "\n".join(rows).rstrip()


@dataclass
class BootResult:
    passed: bool
    serial: str
    screen: str
    seconds: float


def boot(disk, serial, expect=None, timeout=60.0, memory_mb=256, refuse=(), expect_screen=None,
         disk_interface="ide"):
    """Boots the disk. Passes when `expect` shows on the serial port (or
    `expect_screen` on the screen) before the time-out; fails at once when a
    text of `refuse` shows on the serial port first, or when the machine
    stops without the expected text. The screen is kept for the report."""
    serial = Path(serial)
    serial.write_bytes(b"")
    sock_dir = Path(tempfile.mkdtemp(prefix="qxldr-mon-"))  # short path for the socket
    monitor = sock_dir / "monitor"
    started = time.monotonic()
    try:
        proc = subprocess.Popen(qemu_command(disk, serial, monitor, memory_mb, disk_interface),
                                stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    except FileNotFoundError as e:
        shutil.rmtree(sock_dir, ignore_errors=True)
        raise BootDiskError("qemu-system-i386 not found (package qemu-system-x86)") from e
    passed, screen, next_look = False, "", 0.0
    try:
        while True:
            text = serial.read_bytes().decode(errors="replace")
            if expect and expect in text:
                passed = True
                break
            if any(r in text for r in refuse):
                break
            now = time.monotonic() - started
            if expect_screen and now >= next_look:
                screen, next_look = read_screen(monitor), now + 0.5
                if expect_screen in screen:
                    passed = True
                    break
            if proc.poll() is not None:
                text = serial.read_bytes().decode(errors="replace")
                passed = bool(expect) and expect in text
                break
            if now > timeout:
                break
            time.sleep(0.1)
        if proc.poll() is None and not passed:
            screen = read_screen(monitor)
    finally:
        if proc.poll() is None:
            proc.kill()
        _, err = proc.communicate()
        shutil.rmtree(sock_dir, ignore_errors=True)
    seconds = time.monotonic() - started
    text = serial.read_bytes().decode(errors="replace")
    if proc.returncode not in (0, -9) and not text and err:
        raise BootDiskError(f"qemu failed: {err.decode(errors='replace').strip()}")
    return BootResult(passed, text, screen, seconds)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--mbr", required=True, help="the stub (qxldr.mbr)")
    ap.add_argument("--loader", required=True, help="the loader (qxldr)")
    ap.add_argument("--image", help="the boot image; default: a tiny ISO that writes a marker")
    ap.add_argument("--expect", help="text the image writes to the serial port (needed with --image)")
    ap.add_argument("--fs", choices=["fat32", "ntfs"], default="ntfs")
    ap.add_argument("--image-path", default="\\Boot\\Win8PE.iso", help="where the image goes on the partition")
    ap.add_argument("--size-mb", type=int, default=0, help="partition size (default: as small as sound)")
    ap.add_argument("--memory-mb", type=int, default=0, help="default: 256 MB plus twice the image")
    ap.add_argument("--timeout", type=float, default=60.0)
    ap.add_argument("--disk-interface", choices=["ide", "virtio"], default="ide",
                    help="virtio: about twice as fast for large images")
    ap.add_argument("--work", help="folder for the disk and the serial log (default: a temporary one)")
    args = ap.parse_args(argv)
    if args.image and not args.expect:
        ap.error("--image needs --expect")
    for given in (args.mbr, args.loader, args.image):
        if given and not os.path.isfile(given):
            ap.error(f"no file {given}")
    work = Path(args.work) if args.work else Path(tempfile.mkdtemp(prefix="qxldr-boot-"))
    work.mkdir(parents=True, exist_ok=True)
    try:
        image, expect = args.image, args.expect
        if not image:
            image, expect = make_marker_iso("cli", work / "marker.iso", work), marker_for("cli")
        size = args.size_mb
        if not size:
            need = os.path.getsize(image) // (1 << 20) + 16
            size = max(need, 40 if args.fs == "fat32" else 16)
        loader_name = "QXLDR" if args.fs == "fat32" else "qxldr"
        part = Partition(args.fs, {loader_name: args.loader, args.image_path: image}, active=True, size_mb=size)
        disk = build_disk(work / "disk.img", args.mbr, [part], work)
        memory = args.memory_mb or 256 + 2 * (os.path.getsize(image) >> 20)
        result = boot(disk, work / "serial.txt", expect, args.timeout, memory, disk_interface=args.disk_interface)
    except BootDiskError as e:
        print(f"bootdisk: {e}", file=sys.stderr)
        return 2
    finally:
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)
    print(f"{'PASS' if result.passed else 'FAIL'} in {result.seconds:.1f} s; serial output:\n{result.serial}")
    if not result.passed and result.screen:
        print(f"screen:\n{result.screen}")
    return 0 if result.passed else 1


if __name__ == "__main__":
    sys.exit(main())
