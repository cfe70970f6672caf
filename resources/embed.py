#!/usr/bin/env python3
"""Writes the native build's resource table: an assembly file that includes
each file's bytes and a C++ file with the (type, name) look-up table.
Arguments: OUT.S OUT.cpp TYPE:NAME:PATH ..."""
import sys

def main():
    out_s, out_cpp, items = sys.argv[1], sys.argv[2], sys.argv[3:]
    asm = ['.section .rodata']
    cpp = ['#include "platform/resources.h"', '#include <cstddef>', 'extern "C" {']
    rows = []
    for i, item in enumerate(items):
        rtype, name, path = item.split(":", 2)
        sym = f"corvane_res_{i}"
        asm += [f".global {sym}", f".global {sym}_end", ".balign 16", f"{sym}:", f'.incbin "{path}"', f"{sym}_end:", ".byte 0"]
        cpp += [f"extern const unsigned char {sym}[];", f"extern const unsigned char {sym}_end[];"]
        rows.append(f'  {{"{rtype}", "{name}", {sym}, 0}},')
    asm.append('.section .note.GNU-stack,"",@progbits')
    cpp.append("}")
    cpp.append("namespace {")
    cpp.append(f"plat::EmbeddedResource table[{max(len(rows), 1)}] = {{")
    cpp += rows if rows else ['  {"", "", nullptr, 0},']
    cpp.append("};")
    cpp.append("}")
    cpp.append('extern "C" const plat::EmbeddedResource* corvane_embedded_resources(size_t* count) {')
    for i in range(len(rows)):
        cpp.append(f"  table[{i}].size = static_cast<size_t>(corvane_res_{i}_end - corvane_res_{i});")
    cpp.append(f"  *count = {len(rows)};")
    cpp.append("  return table;")
    cpp.append("}")
    open(out_s, "w").write("\n".join(asm) + "\n")
    open(out_cpp, "w").write("\n".join(cpp) + "\n")

if __name__ == "__main__":
    main()
