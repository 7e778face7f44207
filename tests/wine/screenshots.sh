#!/usr/bin/env bash
# docs/*.png again: the dialogs as Wine draws them in a Windows 98 run of the
# suite (OK then No, and a Cancel). Needs the win32 and host presets built first.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
WINE_SUITE_WORK=$root/build/wine-shots "$root/tests/wine/run_suite.sh" --scenario ok_no \
  --scenario cancel win98
for shot in ok_no-welcome ok_no-progress ok_no-completion cancel-cancelled; do
  cp -v "$root/build/wine-shots/shots/win98-$shot.png" "$root/docs/${shot#*-}.png"
done
