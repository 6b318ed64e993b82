#!/usr/bin/env bash
# Builds every configuration and runs every test: native ones directly, Windows ones under wine64
# in a fresh Wine prefix with a private X server.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
JOBS=${JOBS:-2}

for preset in host win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$JOBS"
done

# One fresh prefix and one X server for the whole session; scenarios clone the prefix.
export WINEPREFIX="$PWD/build/wine/prefix"
echo "-- creating a fresh Wine prefix in $WINEPREFIX"
tessel_new_prefix "$WINEPREFIX"
displayfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
xvfb_pid=$!
cleanup() {
  "$WINESERVER" -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  rm -f "$displayfile"
}
trap cleanup EXIT
for _ in $(seq 100); do [[ -s "$displayfile" ]] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$displayfile")"
echo "-- X server on $DISPLAY"

status=0
ctest --preset host -j"$JOBS" || status=1

# The native tests again under AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz
# targets: each replays its seed corpus, then fuzzes for a bounded time.
if [[ "${TESSEL_SKIP_SANITIZERS:-0}" != 1 ]]; then
  cmake --preset host-asan >/dev/null
  cmake --build --preset host-asan -j"$JOBS" --target tessel_native_tests
  ASAN_OPTIONS=detect_leaks=1 build/host-asan/bin/tessel_native_tests --gtest_brief=1 || status=1
  cmake -S . -B build/fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTESSEL_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build/fuzz --target tessel_fuzzers -j"$JOBS"
  ctest --test-dir build/fuzz -L fuzz --output-on-failure || status=1
  tests/fuzz/run-fuzzers.sh build/fuzz/bin "${TESSEL_FUZZ_SECONDS:-30}" build/fuzz/work || status=1
fi

ctest --preset win64 -j"$JOBS" || status=1
exit $status
