#!/usr/bin/env bash
# Checks that the Linux package runs anywhere: unpacks it into a fresh
# folder, fails when bin/onpu or lib/onpu/onpu_osz.so needs a shared object
# beyond the C library's own (libc, libm, libpthread, libdl, the loader) or
# when the package is larger than 50 MB, then runs the unpacked bin/onpu
# --osz in an empty folder with a bare environment (no ONPU_SOUNDFONT, no
# LD_LIBRARY_PATH) and fails unless it writes the archive with the package's
# own SoundFont. Prints what each binary needs and the newest C library
# symbol version it uses.
#
#   scripts/check-portable.sh PACKAGE.tar.gz [UNPACK_DIR]
# With UNPACK_DIR the package is left unpacked there (for later checks).
set -euo pipefail
die() { echo "check-portable: $*" >&2; exit 1; }
[ $# -ge 1 ] || die "usage: $0 PACKAGE.tar.gz [UNPACK_DIR]"
[ -f "$1" ] || die "no package at $1"
package=$(realpath "$1")
[ $# -ge 2 ] && unpack_to=$(realpath -m "$2")
cd "$(dirname "$0")/.."
root=$(pwd)
command -v readelf >/dev/null || die "readelf is missing (apt-get install binutils)"

limit=50000000
size=$(stat -c %s "$package")
echo "check-portable: $(basename "$package"): $size bytes"
[ "$size" -le "$limit" ] || die "the package is $size bytes, over $limit"

if [ $# -ge 2 ]; then
  unpacked=$unpack_to
  rm -rf "$unpacked"
  mkdir -p "$unpacked"
else
  unpacked=$(mktemp -d "${TMPDIR:-/tmp}/onpu-portable.XXXXXX")
  trap 'rm -rf "$unpacked"' EXIT
fi
tar -xzf "$package" -C "$unpacked"
top=$(find "$unpacked" -mindepth 1 -maxdepth 1 -type d | sed -n 1p)

allowed=" libc.so.6 libm.so.6 libpthread.so.0 libdl.so.2 ld-linux-x86-64.so.2 "
for binary in bin/onpu lib/onpu/onpu_osz.so; do
  [ -f "$top/$binary" ] || die "the package has no $binary"
  needed=$(readelf -d "$top/$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
  newest=$(readelf -V "$top/$binary" | grep -o 'GLIBC_[0-9.]*' | sort -uV | tail -1)
  echo "check-portable: $binary needs: $needed(newest symbol version $newest)"
  for library in $needed; do
    [[ $allowed == *" $library "* ]] || die "$binary needs $library, which is not part of the C library"
  done
done

run=$(mktemp -d "$unpacked/run.XXXXXX")
cp "$root/examples/melody.mid" "$run/"
(cd "$run" && env -i PATH=/usr/bin:/bin HOME="$run" LANG=C.UTF-8 "$top/bin/onpu" melody.mid --osz \
  >"$run/out.txt" 2>"$run/err.txt") || die "bin/onpu melody.mid --osz failed: $(cat "$run/err.txt")"
[ -s "$run/melody.osz" ] || die "bin/onpu wrote no melody.osz"
soundfont=$(sed -n 's/^SoundFont: //p' "$run/out.txt")
case "$soundfont" in
  "$top"/*) echo "check-portable: --osz took the package's SoundFont: ${soundfont#"$top"/}" ;;
  *) die "bin/onpu took the SoundFont '$soundfont', not the package's" ;;
esac
rm -rf "$run"
echo "check-portable: ok"
