#!/usr/bin/env python3
"""Makes a delay-import library from a MinGW import library.

delaylib.py NM DLLTOOL IMPORT_LIB DLL_NAME OUT_LIB

The functions the import library names become the exports of a .def file
that dlltool turns into a library whose calls load DLL_NAME on first use.
"""
import os
import re
import subprocess
import sys


def main():
    nm, dlltool, implib, dll, out = sys.argv[1:6]
    text = subprocess.run([nm, implib], check=True, capture_output=True, text=True).stdout
    names = set()
    for line in text.splitlines():
        m = re.match(r"^[0-9a-fA-F]+ T (\S+)$", line.strip())
        if m:
            names.add(m.group(1))
    decorated = any(n.startswith("_") for n in names)  # i686: _Name@bytes
    exports = sorted(n[1:] if decorated and n.startswith("_") else n for n in names)
    deffile = out + ".def"
    with open(deffile, "w") as f:
        f.write("LIBRARY %s\nEXPORTS\n" % dll)
        for n in exports:
            f.write("  %s\n" % n)
    cmd = [dlltool, "--input-def", deffile, "--output-delaylib", out, "--dllname", dll]
    if decorated:
        cmd.append("--kill-at")  # the DLL exports the names without @bytes
    subprocess.run(cmd, check=True)
    os.remove(deffile)


if __name__ == "__main__":
    main()
