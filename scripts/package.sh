#!/usr/bin/env bash
# Makes the download packages from finished builds:
#   onpu-<version>-linux-x64.tar.gz    bin/onpu, lib/onpu/onpu_osz.so,
#                                      share/onpu/soundfonts/FluidR3Mono_GM.sf3 and
#                                      share/onpu/licenses/ (as cmake --install lays out a build
#                                      against the static audio libraries), licenses/ (a link to
#                                      them), README.md, docs/, LICENSE; made only after the installed
#                                      onpu has written an .osz with its own SoundFont
#   onpu-<version>-windows-x64.zip     onpu.exe, onpu_osz.dll, soundfonts/FluidR3Mono_GM.sf3,
#                                      README.md, docs/, LICENSE.txt, licenses/ (every bundled part's)
#   onpu-<version>-web.zip             the web page's site as scripts/web-build.sh wrote it, in a
#                                      folder of that name: unpacked, any static host serves it
#
# Usage: scripts/package.sh linux BUILD_DIR [OUT_DIR]
#        scripts/package.sh windows BUILD_DIR DEPS_PREFIX [OUT_DIR]
#        scripts/package.sh web SITE_DIR [OUT_DIR]
#   BUILD_DIR    a build with the audio module against the static libraries
#                (build-portable/, build-windows/)
#   DEPS_PREFIX  the static audio libraries' prefix from scripts/windows-deps.sh
#                (their licences travel with the package)
#   OUT_DIR      where the package goes (default: packages/)
# The SoundFont is Debian's fluidr3mono-gm-soundfont (FluidR3 in SF3, its samples
# compressed); ONPU_PACKAGE_SOUNDFONT names another for the Windows package, the
# build's ONPU_BUNDLED_SOUNDFONT for the Linux one.
# Prints the package's path as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

die() { echo "package: $*" >&2; exit 1; }
[ $# -ge 2 ] || die "usage: $0 linux BUILD_DIR [OUT_DIR] | windows BUILD_DIR DEPS_PREFIX [OUT_DIR] | web SITE_DIR [OUT_DIR]"
kind=$1
build=$(realpath "$2")
version=$(sed -n 's/^project(onpu VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || die "no version in CMakeLists.txt"

stage=$(mktemp -d "${TMPDIR:-/tmp}/onpu-package.XXXXXX")
trap 'rm -rf "$stage"' EXIT

# Zips the folder NAME of the stage into ZIP, its files in name order.
zip_folder() {  # ZIP NAME
  rm -f "$1"
  (cd "$stage" && python3 - "$1" "$2" <<'EOF'
import os, sys, zipfile
target, top = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as archive:
    for folder, _, files in sorted(os.walk(top)):
        for name in sorted(files):
            archive.write(os.path.join(folder, name))
EOF
  )
}

case "$kind" in
  linux)
    out=$(realpath -m "${3:-packages}")
    name=onpu-$version-linux-x64
    [ -f "$build/onpu_osz.so" ] || die "$build has no onpu_osz.so: build with the audio libraries"
    grep -q '^ONPU_AUDIO_PREFIX:PATH=.' "$build/CMakeCache.txt" ||
      die "$build is not built against the static audio libraries (-DONPU_AUDIO_PREFIX=\$(scripts/windows-deps.sh --target linux | tail -1))"
    cmake --install "$build" --prefix "$stage/$name" --strip >/dev/null
    cp README.md LICENSE "$stage/$name/"
    cp -r docs "$stage/$name/"
    cp /usr/share/doc/libstb-dev/copyright "$stage/$name/share/onpu/licenses/stb-copyright.txt"
    ln -s share/onpu/licenses "$stage/$name/licenses"
    # As installed: --osz finds the module in lib/onpu and the SoundFont in
    # share/onpu/soundfonts, whatever the environment says.
    mkdir "$stage/check"
    cp examples/melody.mid "$stage/check/"
    (cd "$stage/check" && env -u ONPU_SOUNDFONT "$stage/$name/bin/onpu" melody.mid --osz >"$stage/check.out" 2>"$stage/check.err") ||
      die "the installed onpu failed with --osz: $(cat "$stage/check.err")"
    [ -f "$stage/check/melody.osz" ] || die "the installed onpu wrote no melody.osz"
    grep -q "^SoundFont: $stage/$name/share/onpu/soundfonts/" "$stage/check.out" ||
      die "the installed onpu did not take its own SoundFont: $(grep SoundFont "$stage/check.out")"
    mkdir -p "$out"
    tar -czf "$out/$name.tar.gz" -C "$stage" --owner=0 --group=0 --sort=name "$name"
    echo "$out/$name.tar.gz"
    ;;
  windows)
    [ $# -ge 3 ] || die "usage: $0 windows BUILD_DIR DEPS_PREFIX [OUT_DIR]"
    deps=$(realpath "$3")
    out=$(realpath -m "${4:-packages}")
    name=onpu-$version-windows-x64
    soundfont=${ONPU_PACKAGE_SOUNDFONT:-/usr/share/sounds/sf3/FluidR3Mono_GM.sf3}
    soundfont_copyright=/usr/share/doc/fluidr3mono-gm-soundfont/copyright
    for file in "$build/onpu.exe" "$build/onpu_osz.dll"; do
      [ -f "$file" ] || die "missing $file: cross-build with the audio libraries (scripts/windows-cross.sh)"
    done
    [ -f "$soundfont" ] || die "missing the SoundFont $soundfont (apt-get install fluidr3mono-gm-soundfont)"
    [ -d "$deps/licenses" ] || die "missing $deps/licenses: DEPS_PREFIX is not a scripts/windows-deps.sh prefix"
    dir=$stage/$name
    mkdir -p "$dir/soundfonts" "$dir/licenses"
    cp "$build/onpu.exe" "$build/onpu_osz.dll" "$dir/"
    x86_64-w64-mingw32-strip "$dir/onpu.exe" "$dir/onpu_osz.dll"
    cp -L "$soundfont" "$dir/soundfonts/$(basename "$soundfont")"
    cp README.md "$dir/README.md"
    cp -r docs "$dir/docs"
    cp LICENSE "$dir/LICENSE.txt"
    cp "$deps"/licenses/* "$dir/licenses/"
    # The background picture is written by stb_image_write, compiled in.
    cp /usr/share/doc/libstb-dev/copyright "$dir/licenses/stb-copyright.txt"
    [ -f "$soundfont_copyright" ] && cp "$soundfont_copyright" "$dir/licenses/$(basename "$soundfont" | sed 's/\.[^.]*$//')-copyright.txt"
    # The C and C++ runtimes of MinGW-w64 are linked in.
    for doc in gcc-mingw-w64-base mingw-w64-common; do
      [ -f "/usr/share/doc/$doc/copyright" ] && cp "/usr/share/doc/$doc/copyright" "$dir/licenses/$doc-copyright.txt"
    done
    mkdir -p "$out"
    zip_folder "$out/$name.zip" "$name"
    echo "$out/$name.zip"
    ;;
  web)
    out=$(realpath -m "${3:-packages}")
    name=onpu-$version-web
    for file in index.html onpu.js onpu.wasm FluidR3Mono_GM.sf3 LICENSE.txt; do
      [ -f "$build/$file" ] || die "$build has no $file: write the site with scripts/web-build.sh"
    done
    cp -r "$build" "$stage/$name"
    mkdir -p "$out"
    zip_folder "$out/$name.zip" "$name"
    echo "$out/$name.zip"
    ;;
  *) die "unknown package kind '$kind' (linux, windows or web)" ;;
esac
