#!/usr/bin/env bash
# Regenerates the screenshots in docs/: the program's dialogs as Wine draws
# them, taken during a Windows 98 run of the Wine suite (OK, then No; and a
# Cancel for the cancel message). Needs the win32 preset built first.
#
#   tests/wine/screenshots.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$root/build/wine-shots
WINE_SUITE_WORK=$work "$here/run_suite.sh" --scenario ok_no --scenario cancel win98
shots=$work/shots/win98
mkdir -p "$root/docs"
for pair in ok_no-welcome:welcome ok_no-progress:progress ok_no-completion:completion \
            cancel-cancelled:cancelled; do
  cp "$shots/${pair%%:*}.png" "$root/docs/${pair##*:}.png"
  echo "docs/${pair##*:}.png"
done
