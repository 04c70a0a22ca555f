#!/usr/bin/env python3
"""Checks that no library of the program includes a header of a library above it.

Reads each library's sources and links from the CMake files under common/ and
src/ (add_library, target_link_libraries), maps every header to the library
whose folder holds it, and reports each #include "X.h" of a source or header
that names a header of a library the including library does not link, directly
or through the libraries it links. Exit code 1 when any is found.
Run from the repository root: python3 scripts/check-includes.py
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def cmake_files():
    for top in ('common', 'src'):
        for folder, _, files in os.walk(os.path.join(ROOT, top)):
            for name in files:
                if name == 'CMakeLists.txt' or name.endswith('.cmake'):
                    yield folder, os.path.join(folder, name)


def main():
    libs = {}      # name -> folder
    links = {}     # name -> set of linked names
    for folder, path in cmake_files():
        text = open(path, encoding='utf-8').read()
        for m in re.finditer(r'add_library\((\w+)\s+STATIC', text):
            libs[m.group(1)] = folder
        for m in re.finditer(r'target_link_libraries\((\w+)([^)]*)\)', text):
            links.setdefault(m.group(1), set()).update(re.findall(r'\b(kv\w+)\b', m.group(2)))
    header_owner = {}
    for lib, folder in libs.items():
        for name in os.listdir(folder):
            if name.endswith('.h'):
                header_owner[name] = lib

    def reach(lib, seen=None):
        seen = set() if seen is None else seen
        for dep in links.get(lib, ()):
            if dep in libs and dep not in seen:
                seen.add(dep)
                reach(dep, seen)
        return seen

    faults = 0
    for lib, folder in sorted(libs.items()):
        allowed = reach(lib) | {lib}
        for name in sorted(os.listdir(folder)):
            if not name.endswith(('.h', '.cpp')):
                continue
            path = os.path.join(folder, name)
            for no, line in enumerate(open(path, encoding='utf-8', errors='replace'), 1):
                m = re.match(r'\s*#\s*include\s+"([^"/]+\.h)"', line)
                if not m:
                    continue
                owner = header_owner.get(m.group(1))
                if owner and owner not in allowed:
                    faults += 1
                    print(f'{os.path.relpath(path, ROOT)}:{no}: {lib} includes {m.group(1)} of {owner}, '
                          f'which it does not link')
    print(f'{len(libs)} libraries checked, {faults} upward includes')
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
