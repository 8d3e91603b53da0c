#!/usr/bin/env bash
# Builds onpu's web page into DIR: static files that any static host serves
# (python3 -m http.server -d DIR), nothing else needed. They are onpu built
# for WebAssembly with Debian's emscripten (onpu.js and onpu.wasm: the
# command line with the audio module linked in, against the libraries of
# scripts/windows-deps.sh --target wasm), the page's own files from web/
# (all but its tests), the SoundFont the packages ship (FluidR3Mono_GM.sf3),
# onpu's LICENSE and licenses/ with the licence of every part the site holds.
# Installs emscripten and the SoundFont with apt-get when they are missing.
# Prints the size of the site and of its code; the last line is DIR.
#
# Usage: scripts/web-build.sh [--check LINUX_ONPU] [--page PAGE_DIR] [--build BUILD_DIR] [--jobs N] DIR
#   --check LINUX_ONPU  then makes sets with the module under Node and with
#                       LINUX_ONPU (the Linux package's bin/onpu), and fails
#                       unless every .osz is the same byte for byte and the
#                       console says the same: the example tune and a
#                       3-minute song of bench/play_songs.py, plus a played
#                       performance from ../shared/corpus when it is there;
#                       prints the times of both
#   --page PAGE_DIR     the page's files (default web/)
#   --build BUILD_DIR   the emscripten build (default build-wasm/)
#   --jobs N            parallel jobs (default: the number of cores)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

check_onpu=""
page=$root/web
build=$root/build-wasm
jobs=$(nproc)
site=""
while [ $# -gt 0 ]; do
  case "$1" in
    --check) check_onpu=$(realpath "$2"); shift ;;
    --page) page=$(realpath "$2"); shift ;;
    --build) build=$(realpath -m "$2"); shift ;;
    --jobs) jobs=$2; shift ;;
    -*) site=""; break ;;
    *) site=$(realpath -m "$1") ;;
  esac
  shift
done

say() { echo "web-build: $*" >&2; }
die() { say "$*"; exit 1; }
[ $# -eq 0 ] && [ -n "$site" ] || die "usage: $0 [--check LINUX_ONPU] [--page PAGE_DIR] [--build BUILD_DIR] [--jobs N] DIR"
[ -f "$page/index.html" ] || die "no page at $page (index.html and its scripts): pass --page PAGE_DIR"
[ -z "$check_onpu" ] || [ -x "$check_onpu" ] || die "$check_onpu is not an executable onpu"

soundfont=/usr/share/sounds/sf3/FluidR3Mono_GM.sf3
soundfont_copyright=/usr/share/doc/fluidr3mono-gm-soundfont/copyright
# Debian's emscripten runs its JavaScript tools with Debian's Node modules
# and Debian's Python (see scripts/windows-deps.sh), and its loader needs
# Node without fetch on Node 20.
export NODE_PATH=${NODE_PATH:+$NODE_PATH:}/usr/share/nodejs
export EMSDK_PYTHON=${EMSDK_PYTHON:-/usr/bin/python3}
node_run=(node --no-experimental-fetch)

# Emscripten with the other build tools comes with the libraries.
deps=$(scripts/windows-deps.sh --target wasm --install --jobs "$jobs" | tail -1)
[ -f "$soundfont" ] || scripts/install-deps.sh fluidr3mono-gm-soundfont >&2

build_module() {
  say "building onpu.js and onpu.wasm in $build"
  mkdir -p "$build"
  local log=$build/web-build.log
  emcmake cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DONPU_TESTS=OFF -DONPU_AUDIO_PREFIX="$deps" \
    -DCMAKE_FIND_ROOT_PATH="$deps" >"$log" 2>&1 || { tail -30 "$log" >&2; die "cmake failed (log above)"; }
  cmake --build "$build" -j "$jobs" --target onpu >>"$log" 2>&1 ||
    { tail -30 "$log" >&2; die "the build failed (log above)"; }
  grep -q "onpu: .osz audio support enabled" "$log" ||
    die "the module was built without audio (see $log)"
}

write_site() {
  say "writing the site into $site"
  rm -rf "$site"
  mkdir -p "$site/licenses"
  (cd "$page" && find . -path ./tests -prune -o -type f -print | while read -r file; do
    mkdir -p "$site/$(dirname "$file")" && cp "$file" "$site/$file"
  done)
  cp "$build/onpu.js" "$build/onpu.wasm" "$site/"
  cp -L "$soundfont" "$site/$(basename "$soundfont")"
  cp LICENSE "$site/LICENSE.txt"
  cp "$deps"/licenses/* "$site/licenses/"
  cp /usr/share/doc/libstb-dev/copyright "$site/licenses/stb-copyright.txt"
  cp "$soundfont_copyright" "$site/licenses/$(basename "$soundfont" .sf3)-copyright.txt"
  # Emscripten's runtime, its C and C++ libraries among it, is compiled in.
  cp /usr/share/doc/emscripten/copyright "$site/licenses/emscripten-copyright.txt"
}

print_sizes() {
  local code total
  code=$(stat -c %s "$site/onpu.js" "$site/onpu.wasm" | awk '{s += $1} END {print s}')
  total=$(du -sb "$site" | cut -f1)
  say "site: $total bytes in all; its code (onpu.js $(stat -c %s "$site/onpu.js") + onpu.wasm" \
    "$(stat -c %s "$site/onpu.wasm")): $code bytes"
  [ "$code" -le 10000000 ] || die "the site's code is $code bytes, over 10 MB"
}

# The console of a run, without what differs between two runs of the same
# set: the seconds each step took and the folders the files are in.
same_lines() {  # OUT FOLDER SOUNDFONT_FOLDER
  sed -e 's/ ([0-9.]* 秒)$//' -e "s#$2/##g" -e "s#$3/##g" "$1"
}

# One set made both ways; fails unless the archives are the same.
check_set() {  # MIDI
  local midi=$1 name base native module
  name=$(basename "$midi")
  base=${name%.mid}
  native=$work/native-$base
  module=$work/module-$base
  mkdir -p "$native"
  cp "$midi" "$native/$name"
  local started=$EPOCHREALTIME native_end module_end
  (cd "$native" && ONPU_SOUNDFONT="$soundfont" "$check_onpu" "$name" --set >"$work/$base.native.out") ||
    die "$check_onpu failed on $name"
  native_end=$EPOCHREALTIME
  ONPU_SOUNDFONT=$soundfont "${node_run[@]}" tests/wasm/run_module.js "$site/onpu.js" "$midi" "$module" --set \
    >"$work/$base.module.out" || die "the module failed on $name"
  module_end=$EPOCHREALTIME
  say "$name: $(awk -v a="$started" -v b="$native_end" -v c="$module_end" \
    'BEGIN { printf "native %.2f s, the module under Node %.2f s (%.1f times)", b - a, c - b, (c - b) / (b - a) }')"
  diff <(same_lines "$work/$base.native.out" "$native" "$(dirname "$soundfont")") \
    <(same_lines "$work/$base.module.out" /work /soundfonts) >&2 || die "$name: the console differs (above)"
  if ! cmp -s "$native/$base.osz" "$module/$base.osz"; then
    mkdir -p "$native/unpacked" "$module/unpacked"
    (cd "$native/unpacked" && unzip -q ../"$base.osz")
    (cd "$module/unpacked" && unzip -q ../"$base.osz")
    diff -r "$native/unpacked" "$module/unpacked" >&2 || true
    die "$name: the module's $base.osz differs from the native one"
  fi
  say "$name: the same $base.osz ($(stat -c %s "$module/$base.osz") bytes)"
}

# A damaged file: status 1 and the command line's message, and no file left.
check_damaged() {
  mkdir -p "$work/damaged" "$work/module-damaged"
  head -c 40 examples/melody.mid >"$work/damaged/damaged.mid"
  (cd "$work/damaged" && ! ONPU_SOUNDFONT=$soundfont "$check_onpu" damaged.mid --set >/dev/null 2>"$work/damaged.native.err") ||
    die "$check_onpu took a damaged file"
  ! ONPU_SOUNDFONT=$soundfont "${node_run[@]}" tests/wasm/run_module.js "$site/onpu.js" "$work/damaged/damaged.mid" "$work/module-damaged" --set \
    >/dev/null 2>"$work/damaged.module.err" || die "the module took a damaged file"
  diff "$work/damaged.native.err" "$work/damaged.module.err" >&2 || die "the module's message differs (above)"
  [ -z "$(ls -A "$work/module-damaged")" ] || die "the module left files of a damaged file: $(ls "$work/module-damaged")"
  say "damaged.mid: status 1 and the same message: $(head -1 "$work/damaged.module.err")"
}

check_sets() {
  command -v unzip >/dev/null || scripts/install-deps.sh unzip >&2
  work=$(mktemp -d "${TMPDIR:-/tmp}/onpu-web-check.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  python3 bench/play_songs.py "$work/songs" >/dev/null
  check_damaged
  check_set examples/melody.mid
  check_set "$work/songs/calm-bursts.mid"
  local performance=$root/../shared/corpus/asap-tune/53_Rachmaninoff_Preludes_op_32_5.mid
  if [ -f "$performance" ]; then
    check_set "$performance"
  else
    say "skipped the played performance: no $performance"
  fi
}

build_module
write_site
print_sizes
[ -z "$check_onpu" ] || check_sets
echo "$site"
