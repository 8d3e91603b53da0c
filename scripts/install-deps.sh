#!/usr/bin/env bash
# Installs, with apt-get, whatever this machine lacks to build onpu and run
# its tests: the compiler and CMake, GoogleTest, the audio libraries behind
# --osz with their SoundFont, stb_image_write (the set's picture), an MP3
# decoder for the audio tests, and Node.js for the beatmap consumer test, and
# any packages named as arguments. Packages already present are left alone.
#
#   scripts/install-deps.sh [PACKAGE ...]
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev
  libfluidsynth-dev fluid-soundfont-gm libmp3lame-dev libzip-dev libstb-dev mpg123 unzip
  nodejs npm
  "$@"
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep "install ok installed" >/dev/null || missing+=("$p")
done
# Node.js may come from elsewhere than Debian's package; a working node and npm will do.
if command -v node >/dev/null && command -v npm >/dev/null; then
  missing=("${missing[@]/nodejs}")
  missing=("${missing[@]/npm}")
fi
read -r -a missing <<<"${missing[*]}"
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
