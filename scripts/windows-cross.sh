#!/usr/bin/env bash
# Cross-builds the Windows onpu.exe, its audio module onpu_osz.dll and its
# unit tests with MinGW-w64, packs onpu-<version>-windows-x64.zip, and runs
# them under Wine: the unit tests, then end-to-end checks of onpu.exe (and of
# the package unpacked into a fresh folder) against a Linux onpu built from
# the same sources.
#
# Usage: scripts/windows-cross.sh [--install] [--linux-onpu PATH] [--jobs N]
#                                 [--third-party DIR]
#   --install         install the Debian packages it needs when missing
#                     (g++-mingw-w64-x86-64, wine, wine64, libz-mingw-w64-dev,
#                     libstb-dev for the header that writes the background)
#   --linux-onpu PATH the Linux onpu to compare with, its onpu_osz.so beside it
#                     for the .osz checks; without it one is built into
#                     build-windows/linux-onpu
#   --jobs N          parallel build and test jobs (default: the core count)
#   --third-party DIR the FluidSynth sources (see scripts/windows-deps.sh)
#   --osz-reference PATH a Linux onpu whose audio module is built against the
#                     same static libraries (scripts/windows-deps.sh --target
#                     linux) and that takes the same SoundFont (the Linux
#                     package's bin/onpu, unpacked): the package's .osz must
#                     equal its byte for byte
# Everything lands in build-windows/ (the Wine prefix in build-windows/wineprefix,
# the package in build-windows/packages/).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

install=0
linux_onpu=""
osz_reference=""
deps_options=()
jobs=$(nproc)
while [ $# -gt 0 ]; do
  case "$1" in
    --install) install=1 ;;
    --linux-onpu) linux_onpu=$(realpath "$2"); shift ;;
    --jobs) jobs=$2; shift ;;
    --third-party) deps_options+=(--third-party "$2"); shift ;;
    --osz-reference) osz_reference=$(realpath "$2"); shift ;;
    *) echo "usage: $0 [--install] [--linux-onpu PATH] [--jobs N] [--third-party DIR]" >&2; exit 2 ;;
  esac
  shift
done

build="$root/build-windows"
started=$SECONDS
phase_name=""
phase_start=$SECONDS
timings=()
phase() {
  [ -z "$phase_name" ] || timings+=("$phase_name: $((SECONDS - phase_start)) s")
  phase_name=$1
  phase_start=$SECONDS
  [ -z "$phase_name" ] || echo "== windows: $phase_name"
}

packages=(g++-mingw-w64-x86-64 wine wine64 libz-mingw-w64-dev libstb-dev python3 unzip mpg123 fluid-soundfont-gm
          fluidr3mono-gm-soundfont)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep "install ok installed" >/dev/null || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ $install = 0 ]; then
    echo "missing packages: ${missing[*]} (run with --install, or apt-get install --no-install-recommends them)" >&2
    exit 1
  fi
  phase "installing ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine: its own absolute prefix; a UTF-8 locale, or Japanese arguments and
# file names arrive as garbage; no Mono or Gecko (they would be downloaded).
export WINEPREFIX="$build/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C.UTF-8 LC_ALL=C.UTF-8
wine=$(command -v wine)
mkdir -p "$WINEPREFIX"

stop_wine() { wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT

# The server and Wine's services (services.exe, winedevice.exe, ...) live on
# after the process that started them and keep its standard streams. Started
# here, with their output sent to a log, they cannot hold a pipe of CTest's
# open; otherwise the first test to run Wine starts them and CTest waits for
# them until the test's timeout. A persistent server also spares every test
# run the start-up. wineboot creates the prefix the first time (-i) and
# starts the services.
phase "starting Wine in $WINEPREFIX"
stop_wine
wineserver -p </dev/null >"$build/wineserver.log" 2>&1
boot=()
[ -f "$WINEPREFIX/system.reg" ] || boot=(-i)
timeout 600 wineboot "${boot[@]}" </dev/null >"$build/wineboot.log" 2>&1 || {
  cat "$build/wineboot.log" >&2
  exit 1
}
# One program run to the end before the tests start several at once.
timeout 120 "$wine" winepath -w / </dev/null >/dev/null 2>&1 || true

if [ -z "$linux_onpu" ]; then
  phase "building the Linux onpu to compare with"
  cmake -S . -B "$build/linux-onpu" -G Ninja -DCMAKE_BUILD_TYPE=Release -DONPU_TESTS=OFF >/dev/null
  cmake --build "$build/linux-onpu" -j "$jobs" --target onpu
  linux_onpu="$build/linux-onpu/onpu"
fi

phase "the static audio libraries (scripts/windows-deps.sh)"
deps_install=()
[ $install = 1 ] && deps_install=(--install)
deps=$(scripts/windows-deps.sh --target windows --jobs "$jobs" "${deps_install[@]}" "${deps_options[@]}" | tail -1)

phase "cross-building onpu.exe, onpu_osz.dll and onpu_tests.exe"
package_dir="$build/packages"
version=$(sed -n 's/^project(onpu VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$wine" \
  -DONPU_AUDIO=ON -DONPU_AUDIO_PREFIX="$deps" -DONPU_LINUX_ONPU="$linux_onpu" \
  -DONPU_WINDOWS_PACKAGE="$package_dir/onpu-$version-windows-x64.zip" -DONPU_OSZ_REFERENCE="$osz_reference" >/dev/null
cmake --build "$build" -j "$jobs" --target onpu onpu_osz onpu_tests
[ -f "$build/onpu_osz.dll" ] || { echo "the cross build made no onpu_osz.dll (see the CMake output in $build)" >&2; exit 1; }

phase "packing onpu-$version-windows-x64.zip"
scripts/package.sh windows "$build" "$deps" "$package_dir" >/dev/null
ls -l "$package_dir"

# Linked statically: nothing from MinGW (libstdc++, libgcc, winpthread).
for exe in "$build/onpu.exe" "$build/onpu_osz.dll" "$build/tests/onpu_tests.exe"; do
  dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')
  echo "$(basename "$exe") imports: $dlls"
  if grep -qiE '(^| )lib[^ ]*\.dll' <<<"$dlls"; then
    echo "$(basename "$exe") needs MinGW DLLs: $dlls" >&2
    exit 1
  fi
done

phase "testing under Wine"
ctest --test-dir "$build" --output-on-failure --timeout 300 -j "$jobs"

phase "stopping Wine"
stop_wine
phase ""
printf '== windows: %s\n' "${timings[@]}"
echo "== windows: done in $((SECONDS - started)) s"
