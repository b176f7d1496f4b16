#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
#   scripts/install-deps.sh            native build and tests
#   scripts/install-deps.sh --windows  also the MinGW-w64 cross build and Wine
set -euo pipefail

packages=(cmake ninja-build g++ python3 zlib1g-dev googletest libgtest-dev
          zip unzip p7zip-full libarchive-tools tmux clang-14 libclang-rt-14-dev llvm-14)
if [[ "${1:-}" == "--windows" ]]; then
  packages+=(g++-mingw-w64-i686 libz-mingw-w64-dev wine wine32 xvfb xdotool imagemagick openssl
             osslsigncode)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  if [[ " ${missing[*]} " == *" wine32 "* ]]; then
    dpkg --add-architecture i386
  fi
  echo "installing: ${missing[*]}"
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
