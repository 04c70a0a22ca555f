#!/usr/bin/env bash
# Pictures of the dialogs Qt draws for the program (a file dialog, a question
# box, the report preview and the print dialog) in Russian, Ukrainian and
# English, under a virtual X server.
# Usage: scripts/screenshot-dialogs.sh [build folder, default build/release]
# Result: <build folder>/dialog-{RU,UA,EN}-{file,question,preview,print}.png
set -euo pipefail
source "$(dirname "$0")/screenshot-lib.sh"
shot_begin build/release dialog-RU-file.png "ninja -C ${1:-build/release} screenshot_dialogs (or make release)" "${1:-}" \
  tools/screenshot/screenshot_dialogs
for lang in RU UA EN; do
  shot_xvfb 1280x900 "$program" "$lang" "$build"
done
