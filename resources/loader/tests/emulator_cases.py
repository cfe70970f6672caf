#!/usr/bin/env python3
"""The loader pair's emulator cases: each builds a disk (bootdisk.py), boots
it in qemu-system-i386 and checks which image, if any, started.

    emulator_cases.py --mbr qxldr.mbr --loader qxldr --work DIR [--jobs 2] [-k PART]

Every image is a tiny ISO that writes its own tag to the serial port, so a
case sees not only that an image booted but which one.
"""
import argparse
import re
import shutil
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from bootdisk import BootDiskError, Partition, boot, build_disk, make_marker_iso, marker_for  # noqa: E402

TAGS = ("RIGHT", "WRONG", "PARTIAL")
NOT_FOUND = "was not found on any partition"


@dataclass
class Case:
    name: str
    partitions: list          # of Partition; images named by tag, loader as "LOADER"
    expect: str = "RIGHT"     # the tag that must boot, or None: NOT_FOUND on screen
    notes: list = field(default_factory=list)


def cases():
    fat_loader = {"QXLDR": "LOADER"}
    ntfs_loader = {"qxldr": "LOADER"}
    # Root folders of a Windows machine; on NTFS the first two sort before
    # "Boot", on FAT all come first in the folder.
    windows_like = {"\\$Recycle.Bin": None, "\\Apps (x86)": None, "\\Program Files": None,
                    "\\System Volume Information": None, "\\资料备份": None, "\\Windows\\System32": None}
    return [
        # One partition, both file systems, both spellings of the image.
        Case("fat32-Boot-Win8PE.iso", [Partition("fat32", {**fat_loader, "\\Boot\\Win8PE.iso": "RIGHT"}, True)]),
        Case("fat32-BOOT-WIN8PE.ISO", [Partition("fat32", {**fat_loader, "\\BOOT\\WIN8PE.ISO": "RIGHT"}, True)]),
        # Names as ntfs-3g writes them (POSIX name space): GRUB compares these
        # with letter case.
        Case("ntfs-Boot-Win8PE.iso", [Partition("ntfs", {**ntfs_loader, "\\Boot\\Win8PE.iso": "RIGHT"}, True)]),
        Case("ntfs-BOOT-WIN8PE.ISO", [Partition("ntfs", {**ntfs_loader, "\\BOOT\\WIN8PE.ISO": "RIGHT"}, True)]),
        # Names as Windows writes them, among folders with blanks,
        # parentheses, "$" and Chinese names, and the download's partial
        # file beside the image.
        Case("ntfs-windows-names", [Partition("ntfs", {**windows_like, "\\Boot\\Win8PE.iso.cvdl": "PARTIAL",
                                                       **ntfs_loader, "\\Boot\\Win8PE.iso": "RIGHT"},
                                              True, windows_names=True)]),
        Case("fat32-windows-folders", [Partition("fat32", {**windows_like, "\\Boot\\Win8PE.iso.cvdl": "PARTIAL",
                                                           **fat_loader, "\\Boot\\Win8PE.iso": "RIGHT"}, True)]),
        # Two partitions with an image each (a "System Reserved" partition
        # first, as Windows 7 makes it): only the loader's own may boot.
        Case("two-ntfs-own-image", [Partition("ntfs", {"\\Boot\\Win8PE.iso": "WRONG"}, True),
                                    Partition("ntfs", {**ntfs_loader, "\\BOOT\\WIN8PE.ISO": "RIGHT"})]),
        Case("fat32-then-ntfs-own-image", [Partition("fat32", {"\\BOOT\\WIN8PE.ISO": "WRONG"}, True),
                                           Partition("ntfs", {**ntfs_loader, "\\Boot\\Win8PE.iso": "RIGHT"})]),
        # The loader's partition has none: the other partition's image.
        Case("own-partition-without-image", [Partition("ntfs", {"\\Boot\\Win8PE.iso": "RIGHT"}, True),
                                             Partition("ntfs", {**ntfs_loader})]),
        # No image anywhere: a message on the screen, no silent hang.
        Case("no-image-anywhere", [Partition("ntfs", {**ntfs_loader, "\\Boot\\Win8PE.iso.cvdl": "PARTIAL"}, True)],
             expect=None),
    ]


def run_case(case, mbr, loader, images, work, timeout):
    folder = work / case.name
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    parts = []
    for p in case.partitions:
        files = {path: (loader if src == "LOADER" else images[src] if src else None) for path, src in p.files.items()}
        parts.append(Partition(p.fs, files, p.active, p.windows_names, p.size_mb))
    disk = build_disk(folder / "disk.img", mbr, parts, folder)
    if case.expect:
        result = boot(disk, folder / "serial.txt", marker_for(case.expect), timeout,
                      refuse=[marker_for(t) for t in TAGS if t != case.expect])
    else:
        result = boot(disk, folder / "serial.txt", None, timeout, refuse=[marker_for(t) for t in TAGS],
                      expect_screen=NOT_FOUND)
    if result.passed and case.expect:
        # Started as an optical disc: BIOS drive numbers from 0xE0 on.
        drive = re.search(re.escape(marker_for(case.expect)) + r" dl=([0-9A-F]{2})", result.serial)
        if not drive or int(drive.group(1), 16) < 0xE0:
            result.passed = False
            result.serial += "\n(expected an optical drive number, 0xE0 or above)"
    if result.passed:
        shutil.rmtree(folder, ignore_errors=True)
    return result


def main(argv=None):
    ap = argparse.ArgumentParser(description="Boots the loader pair in every emulator case.")
    ap.add_argument("--mbr", required=True)
    ap.add_argument("--loader", required=True)
    ap.add_argument("--work", required=True, help="folder for disks and logs (a failed case keeps its own)")
    ap.add_argument("--jobs", type=int, default=2, help="emulators at a time")
    ap.add_argument("--timeout", type=float, default=60.0, help="seconds a case may take to boot")
    ap.add_argument("-k", dest="only", help="run only the cases whose name contains this text")
    args = ap.parse_args(argv)
    work = Path(args.work).resolve()
    work.mkdir(parents=True, exist_ok=True)
    mbr, loader = Path(args.mbr).resolve(), Path(args.loader).resolve()
    selected = [c for c in cases() if not args.only or args.only in c.name]
    started = time.monotonic()
    try:
        images = {tag: make_marker_iso(tag, work / f"{tag}.iso", work) for tag in TAGS}
    except BootDiskError as e:
        print(f"emulator cases: {e}", file=sys.stderr)
        return 2
    failed = 0
    with ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        futures = [(c, pool.submit(run_case, c, mbr, loader, images, work, args.timeout)) for c in selected]
        for case, future in futures:
            try:
                r = future.result()
            except BootDiskError as e:
                failed += 1
                print(f"ERROR {case.name}: {e}", flush=True)
                continue
            what = f"image {case.expect}" if case.expect else "the not-found message"
            print(f"{'PASS' if r.passed else 'FAIL'} {case.name}: {what} in {r.seconds:.1f} s", flush=True)
            if not r.passed:
                failed += 1
                print(f"  serial: {r.serial.strip()!r}\n  screen:\n" +
                      "\n".join("    " + line for line in r.screen.splitlines()), flush=True)
    print(f"{len(selected) - failed}/{len(selected)} cases passed, {time.monotonic() - started:.1f} s in all "
          f"({args.jobs} at a time)")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
