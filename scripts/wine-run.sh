#!/usr/bin/env bash
# Runs a Windows program under wine64: the emulator that ctest uses for every Windows test binary.
# Uses WINEPREFIX and DISPLAY when the caller set them (scripts/test.sh does); otherwise makes a
# prefix under the build tree once and runs under an X server of its own.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
if [[ -z "${WINEPREFIX:-}" ]]; then
  export WINEPREFIX="$TESSEL_ROOT/build/wine/prefix"
  [[ -f "$WINEPREFIX/system.reg" ]] || tessel_new_prefix "$WINEPREFIX"
fi
if [[ -n "${DISPLAY:-}" ]]; then
  exec "$WINE64" "$@"
fi
# A private X server lives only as long as this program: stop the prefix's Wine processes with it,
# or they would stay tied to a display that is gone.
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" "$WINE64" "$@" || status=$?
"$WINESERVER" -k 2>/dev/null || true
exit $status
