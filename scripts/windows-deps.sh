#!/usr/bin/env bash
# Builds the audio libraries behind --osz from source as static libraries:
# FluidSynth 2.6.0 (no glib: -Dosal=cpp11) with libsndfile 1.2.0 for the
# compressed samples of SF3 SoundFonts (libogg 1.3.5, libvorbis 1.3.7, and the
# FLAC 1.4.2 and Opus 1.3.1 that libsndfile's codecs come with), LAME 3.100,
# libzip 1.7.3, with zlib (Debian's libz-mingw-w64-dev for Windows; for Linux
# zlib 1.2.13 built here, as Debian's libz.a cannot go into a module), every
# other optional feature off, and
# libmusl_math.a: musl 1.2.3's sin, cos, exp, log, pow and the like, which
# the audio module links in place of the platform's math library, so that a
# render comes out bit for bit the same on every platform. For the Windows
# cross build (the default); with --target linux, for a Linux build of the
# audio module against the very same libraries; with --target wasm, for the
# WebAssembly build of the web page (Debian's emscripten, no threads).
#
# Usage: scripts/windows-deps.sh [--target windows|linux|wasm] [--third-party DIR]
#                                [--cache DIR] [--install] [--jobs N]
#   --third-party DIR  where fluidsynth-2.6.0.tar.gz and gcem_1.18.0.orig.tar.gz
#                      are (also ONPU_THIRD_PARTY; default ../shared/third_party
#                      beside the checkout)
#   --cache DIR        where built libraries are kept between runs (also
#                      ONPU_DEPS_CACHE; default ~/.cache/onpu-deps); each set
#                      lives in a folder named after its versions and options,
#                      so a second run with the same ones builds nothing
#   --install          install the Debian packages it needs when missing
# Prints the install prefix (include/, lib/, lib/pkgconfig/) as its last line.
# The sources of LAME, libzip, musl and the codec libraries come from Debian's
# archive (apt-get source, through an apt configuration of its own, so the
# machine's is left alone).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

target=windows
third_party=${ONPU_THIRD_PARTY:-$root/../shared/third_party}
cache=${ONPU_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/onpu-deps}
install=0
jobs=$(nproc)
while [ $# -gt 0 ]; do
  case "$1" in
    --target) target=$2; shift ;;
    --third-party) third_party=$2; shift ;;
    --cache) cache=$2; shift ;;
    --install) install=1 ;;
    --jobs) jobs=$2; shift ;;
    *) echo "usage: $0 [--target windows|linux|wasm] [--third-party DIR] [--cache DIR] [--install] [--jobs N]" >&2; exit 2 ;;
  esac
  shift
done

say() { echo "windows-deps: $*" >&2; }
die() { say "$*"; exit 1; }

fluidsynth_version=2.6.0
fluidsynth_sha256=8007151f979e8470eb7a1cd2ed6bddf00e3f640c08cbb05d302afd31ee1414c5
gcem_version=1.18.0
gcem_sha256=0ad5125246f5e926749a491886d33662c165d5a7708910f81133c4c2144ee64e
lame_source=lame/bookworm
libzip_source=libzip/bookworm
musl_source=musl/bookworm
ogg_source=libogg/bookworm
vorbis_source=libvorbis/bookworm
flac_source=flac/bookworm
opus_source=opus/bookworm
sndfile_source=libsndfile/bookworm
codec_sources="$ogg_source $vorbis_source $flac_source $opus_source $sndfile_source"
# The math functions the audio code and its libraries call (the rest of what
# they need from musl is found by following undefined symbols).
musl_functions="atan atan2 sin cos tan sincos exp exp2 log log2 log10 pow sinf cosf sincosf expf exp2f logf log2f
log10f powf atanf floor floorf ceil ceilf fabs fabsf scalbn scalbnf fmin fmax round roundf lround lroundf llround
exp_data exp2f_data log_data log2_data log2f_data logf_data pow_data powf_data
ldexp ldexpf frexp frexpf rint rintf lrint lrintf acos asin fmod"

case "$target" in
  windows)
    host=x86_64-w64-mingw32
    packages=(g++-mingw-w64-x86-64 libz-mingw-w64-dev cmake ninja-build make)
    cc=$host-gcc-posix
    cxx=$host-g++-posix
    ar=$host-ar
    nm=$host-nm
    zlib_library=/usr/$host/lib/libz.a
    zlib_include=/usr/$host/include
    cmake_target=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_CROSSCOMPILING_EMULATOR=)
    configure_host=(--host="$host")
    tool_env=()
    ;;
  linux)
    host=
    packages=(gcc g++ cmake ninja-build make)
    cc=gcc
    cxx=g++
    ar=ar
    nm=nm
    # Built below, position-independent.
    zlib_library=
    zlib_include=
    cmake_target=()
    configure_host=()
    tool_env=()
    ;;
  wasm)
    # Debian's emscripten (3.1.6), whose tools are JavaScript that needs
    # Debian's Node modules even when another Node comes first on the PATH,
    # run from Python: Debian's, which starts at once where a version
    # manager's python3 comes first (the checks of a configure call the
    # compiler hundreds of times).
    host=wasm32-unknown-emscripten
    packages=(emscripten autotools-dev cmake ninja-build make)
    export NODE_PATH=${NODE_PATH:+$NODE_PATH:}/usr/share/nodejs
    export EMSDK_PYTHON=${EMSDK_PYTHON:-/usr/bin/python3}
    cc=emcc
    cxx=em++
    ar=emar
    nm=emnm
    zlib_library=
    zlib_include=
    # The programs that some checks run go to Node, without the fetch that
    # emscripten's loader mistakes for a browser's on Node 20.
    # FluidSynth's own program, built beside its library and never used,
    # links with the thread calls left undefined that a build without
    # threads lacks.
    cmake_target=(-DCMAKE_TOOLCHAIN_FILE=/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake
                  "-DCMAKE_CROSSCOMPILING_EMULATOR=/usr/bin/node;--no-experimental-fetch"
                  -DCMAKE_EXE_LINKER_FLAGS=-sERROR_ON_UNDEFINED_SYMBOLS=0)
    # LAME's configure chooses by the host's processor: x86-64's choice
    # (its SSE routines, its shortcuts through the IEEE 754 layout and its
    # table of logarithms) makes the MP3s of the other platforms. Its
    # config.sub is too old for emscripten: autotools-dev's knows it.
    configure_host=(--host=x86_64-unknown-emscripten)
    # Archives that the WebAssembly linker can index.
    tool_env=(AR=emar RANLIB=emranlib)
    ;;
  *) die "unknown target '$target' (windows, linux or wasm)" ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep "install ok installed" >/dev/null || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  [ $install = 1 ] || die "missing packages: ${missing[*]} (run with --install, or apt-get install them)"
  say "installing ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The sources that Debian's archive does not serve here, checked byte for byte.
check_archive() {  # FILE SHA256 WHAT
  local file=$third_party/$1
  [ -f "$file" ] || die "missing $file ($3, SHA-256 $2); pass --third-party DIR or set ONPU_THIRD_PARTY"
  local sum
  sum=$(sha256sum "$file" | cut -d' ' -f1)
  [ "$sum" = "$2" ] || die "$file has SHA-256 $sum, expected $2 ($3)"
}
check_archive fluidsynth-$fluidsynth_version.tar.gz $fluidsynth_sha256 "FluidSynth $fluidsynth_version source archive"
check_archive gcem_$gcem_version.orig.tar.gz $gcem_sha256 "gcem $gcem_version source archive"

# Everything that changes the built libraries goes into the folder's name.
flags="-O2"
key_text="target=$target fluidsynth=$fluidsynth_version gcem=$gcem_version lame=$lame_source libzip=$libzip_source musl=$musl_source
codecs=$codec_sources functions=$(echo $musl_functions | sha256sum | cut -c1-16)
cc=$($cc --version | sed -n 1p) zlib=$( [ -n "$zlib_library" ] && sha256sum "$zlib_library" | cut -c1-16 || echo zlib/bookworm) flags=$flags
script=$(sed -n '/^# --- build ---/,$p' "$0" | sha256sum | cut -c1-16)"
key=$(echo "$key_text" | sha256sum | cut -c1-16)
prefix=$cache/$target-fluidsynth$fluidsynth_version-lame3.100-libzip1.7.3-$key
if [ -f "$prefix/.complete" ]; then
  say "cached: $prefix"
  echo "$prefix"
  exit 0
fi

# --- build ---
work=$(mktemp -d "${TMPDIR:-/tmp}/onpu-deps.XXXXXX")
trap 'rm -rf "$work"' EXIT
rm -rf "$prefix"
mkdir -p "$prefix"
started=$SECONDS

say "fetching the sources of $lame_source, $libzip_source, $musl_source and $codec_sources from Debian's archive"
apt_dir=$work/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial" "$work/src"
sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1 >"$apt_dir/mirror" || true
mirror=$(cat "$apt_dir/mirror")
echo "deb-src ${mirror:-http://deb.debian.org/debian} bookworm main" >"$apt_dir/sources.list"
apt_options=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
             -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache::Archives="$apt_dir/archives"
             -o APT::Sandbox::User=root)
apt-get "${apt_options[@]}" update -qq >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; die "cannot read Debian's source index"; }
# shellcheck disable=SC2086
(cd "$work/src" && apt-get "${apt_options[@]}" source --download-only -qq "$lame_source" "$libzip_source" "$musl_source" \
  $codec_sources $( [ -z "$zlib_library" ] && echo zlib/bookworm)) >>"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log" >&2; die "cannot download the sources of $lame_source, $libzip_source, $musl_source and $codec_sources"; }
tar -xzf "$work"/src/lame_3.100.orig.tar.gz -C "$work/src"
tar -xJf "$work"/src/libzip_1.7.3.orig.tar.xz -C "$work/src"
tar -xzf "$work"/src/musl_1.2.3.orig.tar.gz -C "$work/src"
tar -xJf "$work"/src/libogg_1.3.5.orig.tar.xz -C "$work/src"
tar -xzf "$work"/src/libvorbis_1.3.7.orig.tar.gz -C "$work/src"
tar -xJf "$work"/src/flac_1.4.2+ds.orig.tar.xz -C "$work/src"
tar -xzf "$work"/src/opus_1.3.1.orig.tar.gz -C "$work/src"
tar -xzf "$work"/src/libsndfile_1.2.0.orig.tar.gz -C "$work/src"
tar -xzf "$third_party/fluidsynth-$fluidsynth_version.tar.gz" -C "$work/src"
tar -xzf "$third_party/gcem_$gcem_version.orig.tar.gz" -C "$work/src"
gcem_dir=$(find "$work/src" -maxdepth 1 -name 'gcem*' -type d | head -1)
fluidsynth_dir=$(find "$work/src" -maxdepth 1 -name 'fluidsynth*' -type d | head -1)

pic=()
[ "$target" = linux ] && pic=(-fPIC)
# LAME's SSE routines (see below), through emscripten's emulation of SSE.
simd=()
[ "$target" = wasm ] && simd=(-msimd128 -msse)
# WebAssembly has no shared objects here: nothing gains from position-independent code.
position_independent=ON
[ "$target" = wasm ] && position_independent=OFF

say "building LAME"
(
  cd "$work/src/lame-3.100"
  [ "$target" = wasm ] && cp /usr/share/misc/config.sub /usr/share/misc/config.guess .
  # Our own CFLAGS, or configure picks -O3 -ffast-math. MIN_ARCH_SSE: every
  # x86-64 processor has SSE, and LAME takes its SSE routines on Windows
  # anyway (it reads MinGW's _M_X64 so); on Linux it would take its plain C
  # ones, whose sums round differently.
  env "${tool_env[@]}" CC=$cc CFLAGS="$flags ${pic[*]} ${simd[*]} -DMIN_ARCH_SSE" ./configure "${configure_host[@]}" --prefix="$prefix" --disable-shared --enable-static \
    --disable-frontend --disable-decoder --disable-nasm --disable-gtktest >"$work/lame.log" 2>&1 &&
    # What the same MP3 on every platform takes: x86-64's choice.
    { grep -q "define HAVE_XMMINTRIN_H 1" config.h && grep -q "define USE_FAST_LOG 1" config.h &&
      grep -q "define TAKEHIRO_IEEE754_HACK 1" config.h ||
      { echo "LAME's configure did not take its SSE routines and IEEE 754 shortcuts" >>"$work/lame.log"; false; }; } &&
    make -j "$jobs" >>"$work/lame.log" 2>&1 &&
    make install >>"$work/lame.log" 2>&1
) || { tail -30 "$work/lame.log" >&2; die "LAME did not build (log above)"; }

if [ -z "$zlib_library" ]; then
  say "building zlib"
  tar -xjf "$work"/src/zlib_1.2.13.dfsg.orig.tar.bz2 -C "$work/src"
  (
    cd "$(find "$work/src" -maxdepth 1 -name 'zlib-1.2.13*' -type d | head -1)" &&
      env "${tool_env[@]}" CC=$cc CFLAGS="$flags ${pic[*]}" ./configure --static --prefix="$prefix" >"$work/zlib.log" 2>&1 &&
      make -j "$jobs" libz.a >>"$work/zlib.log" 2>&1 &&
      make install >>"$work/zlib.log" 2>&1
  ) || { tail -30 "$work/zlib.log" >&2; die "zlib did not build (log above)"; }
  zlib_library=$prefix/lib/libz.a
  zlib_include=$prefix/include
fi

cmake_common=("${cmake_target[@]}" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix"
              -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DBUILD_SHARED_LIBS=OFF
              -DCMAKE_POSITION_INDEPENDENT_CODE=$position_independent -DCMAKE_C_FLAGS_RELEASE="$flags" -DCMAKE_CXX_FLAGS_RELEASE="$flags")

say "building libzip"
(
  cmake -S "$work/src/libzip-1.7.3" -B "$work/libzip-build" "${cmake_common[@]}" \
    -DZLIB_LIBRARY="$zlib_library" -DZLIB_INCLUDE_DIR="$zlib_include" \
    -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF -DENABLE_OPENSSL=OFF \
    -DENABLE_WINDOWS_CRYPTO=OFF -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF \
    -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF >"$work/libzip.log" 2>&1 &&
    cmake --build "$work/libzip-build" -j "$jobs" >>"$work/libzip.log" 2>&1 &&
    cmake --install "$work/libzip-build" >>"$work/libzip.log" 2>&1
) || { tail -30 "$work/libzip.log" >&2; die "libzip did not build (log above)"; }

# The codecs, each found by the next through the prefix's CMake packages and
# pkg-config files, never through the machine's.
export PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH=""
build_codec() {  # NAME SOURCE_DIR CMAKE_OPTIONS...
  local name=$1 dir=$2
  shift 2
  say "building $name"
  (
    cmake -S "$dir" -B "$work/$name-build" "${cmake_common[@]}" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_FIND_ROOT_PATH="$prefix" -DONPU_FIND_ROOT_PATH="$prefix" -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_TESTING=OFF "$@" >"$work/$name.log" 2>&1 &&
      cmake --build "$work/$name-build" -j "$jobs" >>"$work/$name.log" 2>&1 &&
      cmake --install "$work/$name-build" >>"$work/$name.log" 2>&1
  ) || { tail -30 "$work/$name.log" >&2; die "$name did not build (log above)"; }
}
build_codec libogg "$work/src/libogg-1.3.5" -DINSTALL_DOCS=OFF
build_codec libvorbis "$work/src/libvorbis-1.3.7"
# Opus's release archive left out a file its CMake build includes: the
# default build type, which is set here anyway.
: >"$work/src/opus-1.3.1/opus_buildtype.cmake"
build_codec opus "$work/src/opus-1.3.1" -DOPUS_STACK_PROTECTOR=OFF -DOPUS_BUILD_PROGRAMS=OFF
# (With its C++ library: FluidSynth's search for FLAC asks for both.)
build_codec flac "$work/src/flac-1.4.2" -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOCS=OFF \
  -DINSTALL_MANPAGES=OFF -DWITH_STACK_PROTECTOR=OFF -DWITH_FORTIFY_SOURCE=OFF -DWITH_OGG=ON
# (FLAC's headers declare its functions as a DLL's on Windows unless told
# the library is static.)
build_codec libsndfile "$work/src/libsndfile-1.2.0" -DCMAKE_C_FLAGS=-DFLAC__NO_DLL -DENABLE_EXTERNAL_LIBS=ON -DENABLE_MPEG=OFF -DBUILD_PROGRAMS=OFF \
  -DBUILD_EXAMPLES=OFF -DENABLE_CPACK=OFF -DINSTALL_MANPAGES=OFF -DBUILD_REGTEST=OFF -DENABLE_EXPERIMENTAL=OFF
grep -Eq "SndFile_WITH_EXTERNAL_LIBS (1|ON)\)" "$prefix"/lib/cmake/SndFile/SndFileConfig.cmake ||
  die "libsndfile was built without Ogg Vorbis (see $work/libsndfile.log): FluidSynth could not read SF3 SoundFonts"

say "building FluidSynth"
if [ "$target" = wasm ]; then
  # FluidSynth builds its filter with -ffast-math, which GCC (Linux and
  # Windows) and clang (emscripten) take as leave to reorder its arithmetic
  # each its own way. Strict, clang's code rounds as GCC's fast one does, so
  # the render is the same as theirs bit for bit.
  sed -i 's/rvoice\/fluid_iir_filter_impl.cpp PROPERTIES COMPILE_FLAGS "-fno-math-errno -ffast-math"/rvoice\/fluid_iir_filter_impl.cpp PROPERTIES COMPILE_FLAGS ""/' \
    "$fluidsynth_dir/src/CMakeLists.txt"
  grep -q 'fluid_iir_filter_impl.cpp PROPERTIES COMPILE_FLAGS ""' "$fluidsynth_dir/src/CMakeLists.txt" ||
    die "FluidSynth's src/CMakeLists.txt no longer builds its filter with -ffast-math as expected"
fi
fluidsynth_off=()
for feature in alsa aufile dbus ipv6 jack ladspa midishare opensles oboe network oss dsound wasapi \
  waveout winmidi sdl3 pulseaudio pipewire readline openmp native-dls signalsmith systemd coreaudio coremidi \
  framework dart kai portaudio unicode; do
  fluidsynth_off+=("-Denable-$feature=OFF")
done
(
  cmake -S "$fluidsynth_dir" -B "$work/fluidsynth-build" "${cmake_common[@]}" -Dosal=cpp11 \
    -DGCEM_INCLUDE_DIR="$gcem_dir/include" "${fluidsynth_off[@]}" -Denable-libsndfile=ON \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_ROOT_PATH="$prefix" -DONPU_FIND_ROOT_PATH="$prefix" \
    -DCMAKE_INSTALL_LIBDIR=lib -DCMAKE_C_STANDARD_LIBRARIES="$prefix/lib/libogg.a" -DCMAKE_CXX_STANDARD_LIBRARIES="$prefix/lib/libogg.a" \
    >"$work/fluidsynth.log" 2>&1 || exit 1
  # (Its own program's link leaves libogg out, which Vorbis and FLAC need
  # after them: the standard libraries put it at the end of every link.)
  grep -q "define LIBSNDFILE_HASVORBIS 1" "$work/fluidsynth-build/config.h" ||
    { echo "FluidSynth found no libsndfile with Ogg Vorbis: it could not read SF3 SoundFonts" >&2; exit 1; }
  cmake --build "$work/fluidsynth-build" -j "$jobs" >>"$work/fluidsynth.log" 2>&1 &&
    cmake --install "$work/fluidsynth-build" >>"$work/fluidsynth.log" 2>&1
) || { tail -30 "$work/fluidsynth.log" >&2; die "FluidSynth did not build (log above)"; }

say "building libmusl_math.a"
(
  musl=$work/src/musl-1.2.3
  mkdir -p "$musl/obj/include/bits" "$work/musl-objects"
  arch_types=$musl/arch/x86_64/bits/alltypes.h.in
  arch_include=$musl/arch/x86_64
  math_arch=x86_64
  if [ "$target" = wasm ]; then
    # No WebAssembly port: x86-64's types with long at 32 bits and i386's
    # limits of pointers and sizes (wasm32 is ILP32), the long double of
    # AArch64 (IEEE quad, as wasm32's), and the generic C forms of every
    # function.
    sed -e 's/^#define _Int64 long$/#define _Int64 long long/' -e 's/^#define __LONG_MAX .*/#define __LONG_MAX 0x7fffffffL/' \
      "$arch_types" >"$work/alltypes-ilp32.h.in"
    grep -q '^#define _Int64 long long$' "$work/alltypes-ilp32.h.in" || { echo "musl's alltypes.h.in has changed" >&2; exit 1; }
    arch_types=$work/alltypes-ilp32.h.in
    arch_include=$work/musl-wasm32
    mkdir -p "$arch_include/bits"
    cp "$musl/arch/i386/bits/stdint.h" "$arch_include/bits/stdint.h"
    cp "$musl/arch/aarch64/bits/float.h" "$arch_include/bits/float.h"
    math_arch=none
  fi
  if [ "$target" = windows ]; then
    # Windows keeps long at 32 bits (LLP64): 64-bit types are long long.
    sed -e 's/^#define _Addr long$/#define _Addr long long/' -e 's/^#define _Int64 long$/#define _Int64 long long/' \
      -e 's/^#define _Reg long$/#define _Reg long long/' -e 's/^#define __LONG_MAX .*/#define __LONG_MAX 0x7fffffffL/' \
      "$arch_types" >"$work/alltypes-llp64.h.in"
    grep -q '^#define _Int64 long long$' "$work/alltypes-llp64.h.in" || { echo "musl's alltypes.h.in has changed" >&2; exit 1; }
    arch_types=$work/alltypes-llp64.h.in
  fi
  sed -f "$musl/tools/mkalltypes.sed" "$arch_types" "$musl/include/alltypes.h.in" >"$musl/obj/include/bits/alltypes.h"
  # musl's own headers and flags; hidden, so that a Linux module keeps its
  # copy to itself.
  musl_flags=(-O2 -std=c99 -D_XOPEN_SOURCE=700 -ffreestanding -nostdinc -fexcess-precision=standard -frounding-math
              -fno-stack-protector -fvisibility=hidden "${pic[@]}" -I "$arch_include" -I "$musl/arch/generic"
              -I "$musl/obj/include" -I "$musl/src/include" -I "$musl/src/internal" -I "$musl/include")
  pending=$musl_functions
  while [ -n "$pending" ]; do
    for name in $pending; do
      # The x86-64 forms where musl has them: sqrt, lrint, fabs and the like,
      # single instructions that IEEE rounds exactly.
      source=$musl/src/math/$math_arch/$name.c
      [ -f "$source" ] || source=$musl/src/math/$name.c
      "$cc" -c "${musl_flags[@]}" "$source" -o "$work/musl-objects/$name.o" || exit 1
    done
    # What the objects so far call and musl's math folder defines.
    pending=""
    for symbol in $("$nm" -u "$work"/musl-objects/*.o | awk '{print $NF}' | sort -u); do
      [ -f "$musl/src/math/$symbol.c" ] && [ ! -f "$work/musl-objects/$symbol.o" ] && pending="$pending $symbol"
    done
  done
  "$ar" rcs "$prefix/lib/libmusl_math.a" "$work"/musl-objects/*.o
) >"$work/musl.log" 2>&1 || { tail -30 "$work/musl.log" >&2; die "libmusl_math.a did not build (log above)"; }

# The licences that travel with the libraries in a package.
mkdir -p "$prefix/licenses"
cp "$fluidsynth_dir/LICENSE" "$prefix/licenses/FluidSynth-LICENSE.txt"
cp "$work/src/lame-3.100/COPYING" "$prefix/licenses/LAME-COPYING.txt"
cp "$work/src/libzip-1.7.3/LICENSE" "$prefix/licenses/libzip-LICENSE.txt"
cp "$work/src/musl-1.2.3/COPYRIGHT" "$prefix/licenses/musl-COPYRIGHT.txt"
cp "$work/src/libogg-1.3.5/COPYING" "$prefix/licenses/libogg-COPYING.txt"
cp "$work/src/libvorbis-1.3.7/COPYING" "$prefix/licenses/libvorbis-COPYING.txt"
cp "$work/src/flac-1.4.2/COPYING.Xiph" "$prefix/licenses/FLAC-COPYING.Xiph.txt"
cp "$work/src/opus-1.3.1/COPYING" "$prefix/licenses/Opus-COPYING.txt"
cp "$work/src/libsndfile-1.2.0/COPYING" "$prefix/licenses/libsndfile-COPYING.txt"
if [ "$target" = windows ]; then
  cp /usr/share/doc/libz-mingw-w64-dev/copyright "$prefix/licenses/zlib-copyright.txt"
else
  sed -n '/Copyright notice/,/madler/p' "$(find "$work/src" -maxdepth 2 -path '*zlib-1.2.13*' -name README | head -1)" \
    >"$prefix/licenses/zlib-copyright.txt"
fi
echo "$key_text" >"$prefix/.complete"
say "built in $((SECONDS - started)) s: $prefix"
echo "$prefix"
