#!/usr/bin/env bash
# The Wine tests' first step (a ctest fixture): while ./test installs Wine's
# packages in the background, the tests that need no Wine run and this waits
# for the install to end; then which Wine the Wine tests will run is tried
# once (BUILD/wine, the folder they share). BUILD: the san or host build.
set -euo pipefail
build=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
pidfile=$root/build/apt-wine.pid status=$root/build/apt-wine.status log=$root/build/apt-wine.log
if [ -e "$pidfile" ] && [ ! -e "$status" ]; then
  pid=$(cat "$pidfile")
  echo "ready: waiting for Wine's packages (process $pid, $log)"
  waited=$SECONDS
  while [ ! -e "$status" ]; do
    if ! kill -0 "$pid" 2>/dev/null && [ ! -e "$status" ]; then
      echo "ready: the install of Wine's packages (process $pid) ended with no status; run ./test again" >&2
      exit 1
    fi
    sleep 1
  done
  echo "ready: waited $((SECONDS - waited)) s"
fi
if [ -e "$status" ]; then
  read -r rc _ <"$status"
  if [ "$rc" -ne 0 ]; then
    echo "ready: the install of Wine's packages failed ($rc):" >&2
    tail -n 30 "$log" >&2
    exit 1
  fi
fi
WINE_SUITE_WORK=$build/wine exec python3 "$root/tests/wine/differential.py" --which
