#!/usr/bin/env bash
# The Wine suite's entry point: BR32UNIN.EXE driven like a user under Wine,
# one prefix per mode, every scenario checked from outside the program.
#
#   tests/wine/run_suite.sh [--exe PATH] [--scenario NAME]... [MODE...]
#
# MODE: win98, win95, winxp (default: all three). PATH defaults to
# build/win32/BR32UNIN.EXE; WINDRIVE.EXE is taken from beside it (both come
# from the win32 preset). Prefixes, logs and screenshots go to
# $WINE_SUITE_WORK (default build/wine). Exit 77 when Wine or Xvfb cannot
# run here, unless CI=true, where that is a failure.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
exe=$root/build/win32/BR32UNIN.EXE
if [ "${1:-}" = --exe ]; then
  exe=$2
  shift 2
fi
work=${WINE_SUITE_WORK:-$root/build/wine}
exec python3 "$here/wine_suite.py" --exe "$exe" --windrive "$(dirname "$exe")/WINDRIVE.EXE" \
  --work "$work" "$@"
