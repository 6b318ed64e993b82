#!/usr/bin/env bash
# Runs a Windows program under wine64: the emulator that ctest uses for every Windows test binary.
# Uses WINEPREFIX and DISPLAY when the caller set them (scripts/test.sh does); otherwise makes a
# prefix under the build tree once and runs under its own Xvfb.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
if [[ -z "${WINEPREFIX:-}" ]]; then
  export WINEPREFIX="$TESSEL_ROOT/build/wineprefix"
  [[ -f "$WINEPREFIX/system.reg" ]] || tessel_new_prefix "$WINEPREFIX"
fi
if [[ -z "${DISPLAY:-}" ]]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$WINE64" "$@"
fi
exec "$WINE64" "$@"
