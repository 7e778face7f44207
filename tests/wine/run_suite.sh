#!/usr/bin/env bash
# The Wine suite's entry point (see README.md):
#   tests/wine/run_suite.sh [--exe PATH] [--sim PATH] [--keep] [--scenario NAME]... [MODE]...
# PATH defaults to build/win32/BR32UNIN.EXE, with WINDRIVE.EXE beside it, and to
# build/host/br32unin-sim; the prefixes, logs and screenshots go to $WINE_SUITE_WORK
# (default build/wine).
exec python3 "$(dirname "$0")/wine_suite.py" "$@"
