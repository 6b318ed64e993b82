#!/usr/bin/env bash
# Installs everything the build and the tests need from Debian's archive. Safe to run again.
set -euo pipefail
pkgs=(
  cmake ninja-build g++ pkg-config python3
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  mingw-w64-tools binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth
  gcab cabextract libgcab-dev
  googletest
  clang libclang-rt-14-dev
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
