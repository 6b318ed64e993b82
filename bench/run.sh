#!/bin/sh
# Runs the Tessel benchmarks and writes docs/benchmarks.md. Not part of the test suite.
set -e
cd "$(dirname "$0")/.."
cmake --build build/host --target tessel-pack -j2
cmake --build build/win64 --target tessel-stub UpdateModuleSetup tessel-robot module_test_exitwith -j2
cmake --build build/win32 --target tessel-stub -j2
if [ -z "$WINEPREFIX" ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
  export WINEPREFIX=/tmp/tessel-bench-base
  [ -f "$WINEPREFIX/system.reg" ] || bash -c ". scripts/wine-env.sh; tessel_new_prefix '$WINEPREFIX'"
fi
exec python3 bench/bench.py "$@"
