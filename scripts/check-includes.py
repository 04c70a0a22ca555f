#!/usr/bin/env python3
"""Checks that the libraries of the program only reach downward.

Reads each library's sources and links from the CMake files under common/ and
src/ (add_library, its ALIAS names, target_link_libraries) and reports:
- a link line that names a library on the same layer or above (LAYERS below,
  the drawing of ARCHITECTURE.md), or a library that has no layer;
- an include of a source or header that names a header of a library the
  including library does not link, directly or through the libraries it
  links. Every include form is read: "x.h" and <x.h> by the header's name,
  "../dir/x.h" and "dir/x.h" by the file they reach from the including file's
  folder (else by the header's name).
Exit code 1 when any is found.
Run from the repository root: python3 scripts/check-includes.py [--root FOLDER]
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The layer of each library, from the bottom: a library links only libraries
# of lower layers (so two of one layer never link each other, and no link
# runs in a circle). A new library is given its place here and in
# ARCHITECTURE.md.
LAYERS = {
    'kvcommon': 0,
    'kvcore': 1, 'kvcustomasm': 1, 'kvshell': 1,
    'kvosc': 2,
    'kvpagemodel': 3, 'kvreport': 3, 'kvcustomdesc': 3, 'kvcustomschema': 3,
    'kvwidgets': 4, 'kvcustomcompile': 4,
    'kvpages': 5, 'kvoscview': 5, 'kvreportview': 5, 'kvcustom': 5,
    'kvcustomui': 6,
    'kvgui': 7,
}

INCLUDE = re.compile(r'\s*#\s*include\s*(?:"([^"]+)"|<([^>]+)>)')


def cmake_files(root):
    for top in ('common', 'src'):
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in files:
                if name == 'CMakeLists.txt' or name.endswith('.cmake'):
                    yield folder, os.path.join(folder, name)


def read_libraries(root):
    """Returns (name -> folder, name -> linked names, where each link is written)."""
    libs, aliases, lines = {}, {}, []
    for folder, path in cmake_files(root):
        text = open(path, encoding='utf-8').read()
        for m in re.finditer(r'add_library\((\w+)\s+STATIC', text):
            libs[m.group(1)] = folder
        for m in re.finditer(r'add_library\(([\w:]+)\s+ALIAS\s+(\w+)\s*\)', text):
            aliases[m.group(1)] = m.group(2)
        for m in re.finditer(r'target_link_libraries\((\w+)([^)]*)\)', text):
            no = text.count('\n', 0, m.start()) + 1
            lines.append((m.group(1), re.findall(r'[\w:]+', m.group(2)), os.path.relpath(path, root), no))
    links = {}
    for lib, names, path, no in lines:
        for name in names:
            name = aliases.get(name, name)
            if name in libs:
                links.setdefault(lib, {}).setdefault(name, (path, no))
    return libs, links


def main(argv):
    root = ROOT
    if len(argv) == 3 and argv[1] == '--root':
        root = os.path.abspath(argv[2])
    libs, links = read_libraries(root)
    faults = 0

    for lib in sorted(libs):
        if lib not in LAYERS:
            faults += 1
            print(f'{os.path.relpath(libs[lib], root)}: {lib} has no layer in check-includes.py and ARCHITECTURE.md')
    for lib, deps in sorted(links.items()):
        if lib not in libs or lib not in LAYERS:
            continue  # the program and the tools sit above every library
        for dep, (path, no) in sorted(deps.items()):
            if dep in LAYERS and LAYERS[dep] >= LAYERS[lib]:
                faults += 1
                print(f'{path}:{no}: {lib} links {dep}, which is not below it')

    header_owner = {}
    folder_owner = {os.path.normpath(folder): lib for lib, folder in libs.items()}
    for lib, folder in libs.items():
        for name in os.listdir(folder):
            if name.endswith('.h'):
                header_owner[name] = lib

    def owner_of(including, name, quoted):
        if quoted and '/' in name:
            reached = os.path.normpath(os.path.join(os.path.dirname(including), name))
            if os.path.isfile(reached):
                return folder_owner.get(os.path.dirname(reached))
        return header_owner.get(os.path.basename(name))

    def reach(lib, seen=None):
        seen = set() if seen is None else seen
        for dep in links.get(lib, ()):
            if dep not in seen:
                seen.add(dep)
                reach(dep, seen)
        return seen

    for lib, folder in sorted(libs.items()):
        allowed = reach(lib) | {lib}
        for name in sorted(os.listdir(folder)):
            if not name.endswith(('.h', '.cpp')):
                continue
            path = os.path.join(folder, name)
            for no, line in enumerate(open(path, encoding='utf-8', errors='replace'), 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                included = m.group(1) or m.group(2)
                owner = owner_of(path, included, m.group(1) is not None)
                if owner and owner not in allowed:
                    faults += 1
                    print(f'{os.path.relpath(path, root)}:{no}: {lib} includes {included} of {owner}, '
                          f'which it does not link')
    print(f'{len(libs)} libraries checked, {faults} faults')
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
