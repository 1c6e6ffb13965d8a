#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine.
# Idempotent: does nothing when everything is present.
set -euo pipefail

packages=(
  cmake make git ca-certificates
  g++-mingw-w64-i686-posix              # the Windows toolchain (posix threads)
  wine wine32:i386 wine64               # runs the program and its tests
  xvfb xauth x11-utils imagemagick      # virtual display and screenshots
  fonts-wqy-microhei                    # CJK glyphs for the window
  googletest                            # GoogleTest sources, built with our toolchain
  clang libclang-rt-14-dev              # host build: sanitizers and libFuzzer
  python3 openssl curl                  # the loopback servers, the test CA
  espeak-ng lame mpg123                 # the emulator's speech and MP3 encoding
)

missing=()
for p in "${packages[@]}"; do
  name=${p%%:*}
  arch=
  [[ $p == *:* ]] && arch=":${p##*:}"
  if ! dpkg-query -W -f='${Status}' "$name$arch" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
