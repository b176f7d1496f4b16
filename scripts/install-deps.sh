#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
#   scripts/install-deps.sh            native build and tests
#   scripts/install-deps.sh --windows  also the MinGW-w64 cross build and Wine
set -euo pipefail

packages=(cmake ninja-build g++ python3 zlib1g-dev libssl-dev googletest libgtest-dev
          python3-cryptography zip unzip p7zip-full libarchive-tools tmux clang-14
          libclang-rt-14-dev llvm-14)
if [[ "${1:-}" == "--windows" ]]; then
  # Both Windows stubs are built everywhere; 64-bit Wine runs on every x86-64
  # machine, 32-bit Wine only where the kernel runs 32-bit programs. Wine's
  # bcrypt.dll does its cryptography with GnuTLS, loaded at run time: the
  # library of each architecture whose Wine is installed.
  packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64 xvfb xdotool
             imagemagick openssl osslsigncode locales libgnutls30:amd64)
  if probe=$("$(dirname "$0")/runs-32bit.sh"); then
    packages+=(wine32 libgnutls30:i386)
  else
    echo "not installing wine32: $probe"
  fi
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  if [[ " ${missing[*]} " == *" wine32 "* || " ${missing[*]} " == *":i386 "* ]]; then
    dpkg --add-architecture i386
  fi
  echo "installing: ${missing[*]}"
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

if [[ "${1:-}" == "--windows" ]]; then
  # Wine takes its locale, and with it the OEM code page that reads DOS-made
  # names, from LC_ALL; it needs the locale generated to name files in UTF-8.
  for locale in en_US ru_RU; do
    if ! locale -a | grep -qix "$locale.utf8"; then
      SUDO=""
      [[ $(id -u) -ne 0 ]] && SUDO=sudo
      echo "generating the locale $locale.UTF-8"
      $SUDO localedef -i "$locale" -f UTF-8 "$locale.UTF-8"
    fi
  done
fi
