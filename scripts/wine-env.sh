# Sourced by the Wine scripts: where wine64 lives and how every Windows program here is run.
# No network, no prompts for extra runtimes, no debug chatter.
TESSEL_ROOT=${TESSEL_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
WINE64=${WINE64:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml,winemenubuilder.exe="}
export WINEARCH=win64

# Makes a fresh prefix at $1 (removed first when it exists).
tessel_new_prefix() {
  local p=$1
  rm -rf "$p"; mkdir -p "$(dirname "$p")"
  WINEPREFIX=$p "$WINE64" wineboot -i >/dev/null 2>&1 || return 1
  WINEPREFIX=$p "$WINESERVER" -w
}

# Clones prefix $1 to $2 cheaply: the system folders are hard links, the registry files real copies,
# so a scenario may change the registry without touching the original.
tessel_clone_prefix() {
  local from=$1 to=$2
  rm -rf "$to"
  cp -al "$from" "$to"
  local f; for f in "$to"/*.reg; do cp --remove-destination "$from/$(basename "$f")" "$f"; done
}
