#!/usr/bin/env bash
# Parses every source of src/ and common/ with clang (-fsyntax-only, no code
# made), so that a construct only gcc accepts fails here; gcc builds the
# program and its tests. Sources a clang build in FUZZ_BUILD has compiled
# already (make test's check build: the fuzz targets, the benchmarks, the
# screenshot tools and the GUI they need) are skipped. The flags are those of a clang configure of the whole tree in
# BUILD_DIR (configured only, nothing built).
#   scripts/clang-syntax.sh BUILD_DIR JOBS [FUZZ_BUILD]
set -euo pipefail
build=${1:?build folder}
jobs=${2:?parallel jobs}
fuzz=${3:-}
src=$(cd "$(dirname "$0")/.." && pwd)
CC=clang CXX=clang++ cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKV_TESTS=OFF >/dev/null
list=$build/clang-syntax.cmds
python3 - "$src" "$build/compile_commands.json" "${fuzz:+$fuzz/compile_commands.json}" "$list" <<'EOF'
import json, os, shlex, sys
src, commands, fuzz, out = sys.argv[1:5]
done = set()
if fuzz and os.path.exists(fuzz):
    done = {os.path.realpath(c['file']) for c in json.load(open(fuzz))}
roots = tuple(os.path.join(src, d) + os.sep for d in ('src', 'common'))
with open(out, 'w') as f:
    for c in json.load(open(commands)):
        path = os.path.realpath(c['file'])
        if not path.startswith(roots) or path in done:
            continue
        args = shlex.split(c['command'])
        # The launcher (ccache) has nothing to keep of a parse.
        while not os.path.basename(args[0]).startswith('clang'):
            args = args[1:]
        kept, skip = [], False
        for a in args:
            if skip:
                skip = False
            elif a == '-o':
                skip = True
            elif a != '-c':
                kept.append(a)
        f.write('cd %s && %s -fsyntax-only\n' % (shlex.quote(c['directory']), ' '.join(map(shlex.quote, kept))))
EOF
echo "clang parses $(wc -l <"$list") sources of src/ and common/"
tr '\n' '\0' <"$list" | xargs -0 -r -P "$jobs" -I{} sh -c '{}'
