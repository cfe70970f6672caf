#!/usr/bin/env python3
"""Builds a ZIP archive from NAME=PATH pairs, deflated, with fixed dates so
that the same inputs give the same bytes."""
import sys
import zipfile

def main():
    out, pairs = sys.argv[1], sys.argv[2:]
    with zipfile.ZipFile(out, "w", compression=zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for pair in pairs:
            name, path = pair.split("=", 1)
            info = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            with open(path, "rb") as f:
                z.writestr(info, f.read())

if __name__ == "__main__":
    main()
