#!/usr/bin/env python3
"""The include and link check on a small tree of its own: every include form
and every link line that reaches upward is reported, and nothing else."""
import os
import subprocess
import sys
import tempfile

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'scripts', 'check-includes.py')

TREE = {
    'common/CMakeLists.txt': 'add_library(kvcommon STATIC uA.cpp uB.cpp)\n',
    'common/uCommon.h': '',
    'common/uA.cpp': '#include "uCommon.h"\n#include "../src/core/uCore.h"\n',
    'common/uB.cpp': '#include <QString>\n#  include <uGui.h>\n',
    'src/core/CMakeLists.txt': ('add_library(kvcore STATIC uCore.cpp)\nadd_library(kv::chains ALIAS kvcore)\n'
                                'target_link_libraries(kvcore PUBLIC kvcommon\n  kv::gui Qt6::Core)\n'),
    'src/core/uCore.h': '#include "uCommon.h"\n',
    'src/gui/CMakeLists.txt': ('add_library(kvgui STATIC uG.cpp)\nadd_library(kv::gui ALIAS kvgui)\n'
                               'target_link_libraries(kvgui PUBLIC kv::chains)\n'),
    'src/gui/uGui.h': '',
    'src/gui/uG.cpp': '#include "../core/uCore.h"\n#include "core/uCore.h"\n#include <uCommon.h>\n',
    'src/extra/CMakeLists.txt': 'add_library(kvextra STATIC uE.cpp)\ntarget_link_libraries(kvextra PRIVATE kvcommon)\n',
}

WANT = [
    'src/extra: kvextra has no layer in check-includes.py and ARCHITECTURE.md',
    'src/core/CMakeLists.txt:3: kvcore links kvgui, which is not below it',
    'common/uA.cpp:2: kvcommon includes ../src/core/uCore.h of kvcore, which it does not link',
    'common/uB.cpp:2: kvcommon includes uGui.h of kvgui, which it does not link',
    '4 libraries checked, 4 faults',
]

with tempfile.TemporaryDirectory() as root:
    for name, text in TREE.items():
        os.makedirs(os.path.dirname(os.path.join(root, name)), exist_ok=True)
        with open(os.path.join(root, name), 'w', encoding='utf-8') as f:
            f.write(text)
    run = subprocess.run([sys.executable, SCRIPT, '--root', root], capture_output=True, text=True)
    got = run.stdout.splitlines()
    if run.returncode != 1 or got != WANT:
        print('exit code', run.returncode, 'output:', *got, 'wanted:', *WANT, sep='\n')
        sys.exit(1)
print('check-includes.py: every upward include form and link line reported')
