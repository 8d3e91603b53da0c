#!/usr/bin/env bash
# End-to-end checks of the Windows onpu.exe under Wine, against a Linux build
# of the same sources: Japanese file names and arguments, both kinds of path
# separator, mode both, a missing file, the console text as UTF-8 in a pipe,
# and .osu files byte for byte identical to the Linux build's.
#
# Usage: tests/windows/e2e.sh ONPU_EXE LINUX_ONPU [CASE...]
#   With no CASE every case runs; --list prints the case names.
# Needs a booted Wine prefix (WINEPREFIX) and, for speed, a running wineserver.
# Environment: WINE (default wine), ONPU_E2E_TIMEOUT (seconds per run, 60),
# ONPU_CORPUS_DIR (MIDI files to compare on; default ../shared/corpus beside
# the checkout; left out when missing), ONPU_WINDOWS_PACKAGE (the zip whose
# onpu.exe the osz_package cases run, unpacked into a fresh folder; those
# cases fail without it), ONPU_OSZ_REFERENCE (a Linux onpu whose .osz the
# Windows one must equal byte for byte: one built against the same static
# audio libraries; without it only entries, beatmaps and lengths are compared).
set -uo pipefail

cases=(japanese_name backslash_path slash_path mode_both missing_file missing_file_mode_both
       usage_and_invalid_mode melody_all_modes corpus_all_modes redirected_run_does_not_wait
       osz_package osz_package_mode_both osz_package_same_bytes_twice osz_package_without_soundfont
       osz_package_long_song stars_all_modes package_contents drop_two_files)

if [ "${1:-}" = "--list" ]; then
  printf '%s\n' "${cases[@]}"
  exit 0
fi
if [ $# -lt 2 ]; then
  echo "usage: $0 ONPU_EXE LINUX_ONPU [CASE...] | --list" >&2
  exit 2
fi

here=$(cd "$(dirname "$0")" && pwd)
exe=$(realpath "$1")
linux=$(realpath "$2")
shift 2
[ $# -gt 0 ] && cases=("$@")

melody="$here/../../examples/melody.mid"
corpus=${ONPU_CORPUS_DIR:-$here/../../../shared/corpus/smf-test-files}
wine=${WINE:-wine}
step_timeout=${ONPU_E2E_TIMEOUT:-60}
# Without a UTF-8 locale Wine turns Japanese arguments and names into garbage
# (LC_ALL, when set, wins over LANG).
export LANG=C.UTF-8 LC_ALL=C.UTF-8
export WINEDEBUG=${WINEDEBUG:--all}

work=$(mktemp -d "${TMPDIR:-/tmp}/onpu-windows-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT

failures=0
failed_case=0
fail() {
  echo "  FAIL: $*"
  failed_case=1
}

# run_windows NAME DIR ARGS...: runs onpu.exe in DIR; NAME.out, NAME.err and
# NAME.status land in $work.
run_windows() {
  local name=$1 dir=$2 status attempt
  shift 2
  for attempt in 1 2; do
    (cd "$dir" && timeout "$step_timeout" "$wine" "$exe" "$@" >"$work/$name.out" 2>"$work/$name.err" </dev/null)
    status=$?
    # onpu.exe never fails without saying why; status 1 with nothing on
    # either stream is Wine failing to start it (as happens now and then when
    # several Wine programs start at once), so that run is tried once more.
    [ "$status" = 1 ] && [ ! -s "$work/$name.out" ] && [ ! -s "$work/$name.err" ] && [ $attempt = 1 ] || break
    echo "  note: Wine ended onpu.exe $* with status 1 and no output; running it again"
  done
  echo "$status" >"$work/$name.status"
}

run_linux() {
  local name=$1 dir=$2
  shift 2
  (cd "$dir" && "$linux" "$@" >"$work/$name.out" 2>"$work/$name.err" </dev/null)
  echo $? >"$work/$name.status"
}

# A fresh directory; with a second argument, a copy of that MIDI file named
# by the third inside it.
fresh_dir() {
  local dir
  dir=$(mktemp -d "$work/dir.XXXXXX")
  if [ $# -ge 2 ]; then
    mkdir -p "$(dirname "$dir/$2")"
    cp "$1" "$dir/$2"
  fi
  echo "$dir"
}

# The Windows form of a directory under $work, as Wine shows it to the
# program (asked of Wine once, for $work itself).
# Tried a few times: when several Wine programs start at once (CTest runs the
# cases side by side), one of them now and then fails before it runs.
work_windows=""
for attempt in 1 2 3; do
  work_windows=$(timeout "$step_timeout" "$wine" winepath -w "$work" 2>/dev/null | tr -d '\r')
  [ -n "$work_windows" ] && break
  sleep 1
done
if [ -z "$work_windows" ]; then
  echo "winepath failed: is WINEPREFIX ($WINEPREFIX) a booted Wine prefix?" >&2
  exit 1
fi
windows_dir() {
  local rest=${1#"$work"/}
  echo "$work_windows\\${rest//\//\\}"
}

# read_text VAR FILE: the whole file into VAR, trailing line feeds kept.
read_text() {
  IFS= read -r -d '' "$1" <"$2" || true
}

expect_status() {  # NAME WANTED
  local got
  got=$(cat "$work/$1.status")
  [ "$got" = "$2" ] || fail "$1: exit status $got, wanted $2 (stderr: $(head -c 300 "$work/$1.err"))"
}

expect_entries() {  # DIR NAMES... (sorted)
  local dir=$1
  shift
  local got wanted
  got=$(cd "$dir" && LC_ALL=C ls -A | LC_ALL=C sort | tr '\n' ' ')
  wanted=$( (($# == 0)) || printf '%s\n' "$@" | LC_ALL=C sort | tr '\n' ' ')
  [ "$got" = "$wanted" ] || fail "entries of $(basename "$dir"): [$got], wanted [$wanted]"
}

expect_same_bytes() {  # WINDOWS_FILE LINUX_FILE
  if [ ! -f "$1" ]; then
    fail "missing $(basename "$1")"
  elif [ ! -f "$2" ]; then
    fail "the Linux build wrote no $(basename "$2")"
  elif ! cmp -s "$1" "$2"; then
    fail "$(basename "$1") differs from the Linux build's: $(cmp "$1" "$2" 2>&1 | sed -n 1p)"
  fi
}

# Windows console text in a pipe: UTF-8, every line ended by CR LF (the C
# runtime's text mode). Equal to the Linux text once the Linux directory is
# replaced by the Windows one with its separator.
expect_same_console() {  # WINDOWS_NAME LINUX_NAME STREAM LINUX_DIR WINDOWS_DIR
  local stream=$3 linux_dir=$4 windows_dir=$5
  local got wanted
  read_text got "$work/$1.$stream"
  read_text wanted "$work/$2.$stream"
  if ! iconv -f UTF-8 -t UTF-8 "$work/$1.$stream" >/dev/null 2>&1; then
    fail "$1.$stream is not valid UTF-8"
    return
  fi
  local lf_only=${got//$'\r\n'/$'\n'}
  local line_feeds=${got//[!$'\n']/}
  if [[ $lf_only == *$'\r'* ]] || [ $((${#got} - ${#lf_only})) != ${#line_feeds} ]; then
    fail "$1.$stream: line ends are not all CR LF"
  fi
  got=$lf_only
  wanted=${wanted//"$linux_dir/"/"$windows_dir\\"}
  if [ "$got" != "$wanted" ]; then
    fail "$1.$stream differs from the Linux build's:"
    diff <(printf '%s' "$wanted") <(printf '%s' "$got") | sed -n 1,40p | sed 's/^/    /'
  fi
}

# Unpacks the package once into a folder of its own: sets package_dir.
unpack_package() {
  local package=${ONPU_WINDOWS_PACKAGE:-}
  if [ -z "$package" ] || [ ! -f "$package" ]; then
    fail "no Windows package (ONPU_WINDOWS_PACKAGE='$package')"
    return 1
  fi
  if [ ! -d "$work/package" ]; then
    mkdir "$work/package"
    unzip -q "$package" -d "$work/package" || { fail "cannot unpack $package"; return 1; }
  fi
  package_dir=$(find "$work/package" -mindepth 1 -maxdepth 1 -type d | sed -n 1p)
}

# Two files dropped on onpu.exe in Explorer, one of them damaged: both are
# handled, the good one's set lands beside it, nothing in the working folder,
# and one line per file says how it went.
case_drop_two_files() {
  local music broken working wm wb listing
  music=$(fresh_dir "$melody" 曲.mid)
  broken=$(fresh_dir)
  printf 'MThd\0\0' >"$broken/bad.mid"
  working=$(fresh_dir)
  wm=$(windows_dir "$music")
  wb=$(windows_dir "$broken")
  export ONPU_STARTED_BY_EXPLORER=1
  run_package win "$working" "$wm\\曲.mid" "$wb\\bad.mid"
  unset ONPU_STARTED_BY_EXPLORER
  expect_status win 1
  expect_entries "$working"
  expect_entries "$broken" bad.mid
  # The maps are inside the set: nothing else is left beside the file.
  expect_entries "$music" 曲.mid 曲.osz
  # The listing first, as in case_package_contents: grep -q in a pipe can
  # leave unzip to die of SIGPIPE.
  listing=$(unzip -Z1 "$music/曲.osz")
  grep -qx '曲-1.50stars.osu' <<<"$listing" || fail "no 曲-1.50stars.osu in 曲.osz"
  grep -qx 'background.png' <<<"$listing" || fail "no background.png in 曲.osz"
  grep -qF "○ 曲.mid → $wm\\曲.osz" "$work/win.out" || fail "no result line for 曲.mid"
  grep -qF "× bad.mid: エラー: " "$work/win.out" || fail "no result line for bad.mid"
  grep -qF ".osz ファイルをダブルクリックすると" "$work/win.out" || fail "no line on how to import a set"
}

# The package a user downloads: at most 50 MB, with its compressed SoundFont.
case_package_contents() {
  local package=${ONPU_WINDOWS_PACKAGE:-} size
  [ -n "$package" ] && [ -f "$package" ] || { fail "no Windows package (ONPU_WINDOWS_PACKAGE)"; return; }
  size=$(stat -c %s "$package")
  echo "  $(basename "$package"): $size bytes"
  [ "$size" -le 50000000 ] || fail "the package is $size bytes, over 50000000"
  # The whole listing first: grep -q quits at its first match, and under
  # pipefail the writer it leaves behind dies of SIGPIPE and fails the check.
  local listing
  listing=$(unzip -Z1 "$package")
  grep -q '/soundfonts/FluidR3Mono_GM.sf3$' <<<"$listing" || fail "the package has no soundfonts/FluidR3Mono_GM.sf3"
  grep -q '/licenses/FluidR3Mono_GM-copyright.txt$' <<<"$listing" || fail "the package has no licence for its SoundFont"
}

# run_package NAME DIR ARGS...: the package's onpu.exe, with no SoundFont
# named by the environment, so it finds the one it ships.
run_package() {
  local name=$1 dir=$2
  shift 2
  echo 1 >"$work/$name.status"
  unpack_package || return 0
  (cd "$dir" && env -u ONPU_SOUNDFONT timeout 300 "$wine" "$package_dir/onpu.exe" "$@" \
    >"$work/$name.out" 2>"$work/$name.err" </dev/null)
  echo $? >"$work/$name.status"
}

# Names and sizes of an archive's entries, one per line.
archive_entries() {
  unzip -Z1 "$1" | LC_ALL=C sort
}

# Samples an MP3 decodes to (16-bit stereo bytes).
decoded_length() {
  mpg123 -q -s "$1" 2>/dev/null | wc -c
}

# compare_osz WINDOWS_DIR LINUX_DIR BASE OSU...: the .osz of both builds list
# the same entries; their beatmaps are byte for byte the Linux build's, inside
# the archive and beside it; every MP3 decodes to as many samples.
compare_osz() {
  local w=$1 l=$2 base=$3 entry
  shift 3
  local wosz=$w/$base.osz losz=$l/$base.osz
  [ -f "$wosz" ] || { fail "no $base.osz (stderr: $(head -c 300 "$work/win.err"))"; return; }
  [ -f "$losz" ] || { fail "the Linux build wrote no $base.osz"; return; }
  if [ "$(archive_entries "$wosz")" != "$(archive_entries "$losz")" ]; then
    fail "entries differ: [$(archive_entries "$wosz" | tr '\n' ' ')] vs Linux [$(archive_entries "$losz" | tr '\n' ' ')]"
    return
  fi
  mkdir -p "$w/unpacked" "$l/unpacked"
  unzip -q "$wosz" -d "$w/unpacked"
  unzip -q "$losz" -d "$l/unpacked"
  for entry in "$@"; do
    expect_same_bytes "$w/unpacked/$entry" "$l/unpacked/$entry"
    expect_same_bytes "$w/$entry" "$l/$entry"
  done
  while IFS= read -r entry; do
    case "$entry" in
      *.mp3)
        local wn ln
        wn=$(decoded_length "$w/unpacked/$entry")
        ln=$(decoded_length "$l/unpacked/$entry")
        [ "$wn" = "$ln" ] && [ "$wn" -gt 0 ] || fail "$entry decodes to $wn bytes, the Linux one to $ln"
        ;;
    esac
  done < <(archive_entries "$wosz")
  if cmp -s "$wosz" "$losz"; then
    echo "  $base.osz is byte for byte the Linux build's"
  else
    echo "  $base.osz differs from the Linux build's in its audio (another FluidSynth and math library)"
  fi
  rm -rf "$w/unpacked" "$l/unpacked"
}

# --- cases -----------------------------------------------------------------

# 曲.mid gives 曲.osu: the argument, the opened and the created file names and
# the console lines all carry the Japanese name intact.
case_japanese_name() {
  local w l wd
  w=$(fresh_dir "$melody" 曲.mid)
  l=$(fresh_dir "$melody" 曲.mid)
  wd=$(windows_dir "$w")
  run_windows win "$w" 曲.mid
  run_linux lin "$l" 曲.mid
  expect_status win 0
  expect_entries "$w" 曲.mid 曲.osu
  expect_same_bytes "$w/曲.osu" "$l/曲.osu"
  expect_same_console win lin out "$l" "$wd"
  grep -qF "出力ファイル: $wd\\曲.osu" "$work/win.out" || fail "no output line with $wd\\曲.osu"
  expect_same_console win lin err "$l" "$wd"
}

# dir\song.live.mid: the name after the last backslash, up to the last full
# stop, names the output, which goes into the current directory.
case_backslash_path() {
  local w l
  w=$(fresh_dir "$melody" sub/song.live.mid)
  l=$(fresh_dir "$melody" sub/song.live.mid)
  run_windows win "$w" 'sub\song.live.mid'
  run_linux lin "$l" sub/song.live.mid
  expect_status win 0
  expect_entries "$w" song.live.osu sub
  expect_entries "$w/sub" song.live.mid
  expect_same_bytes "$w/song.live.osu" "$l/song.live.osu"
  grep -qF "MIDIファイルを解析中: sub\\song.live.mid" "$work/win.out" || fail "the analysing line lacks the path as given"
}

# dir/song.mid: with no backslash at all, the last forward slash separates.
case_slash_path() {
  local w l
  w=$(fresh_dir "$melody" 楽譜/song.mid)
  l=$(fresh_dir "$melody" 楽譜/song.mid)
  run_windows win "$w" 楽譜/song.mid
  run_linux lin "$l" 楽譜/song.mid
  expect_status win 0
  expect_entries "$w" song.osu 楽譜
  expect_same_bytes "$w/song.osu" "$l/song.osu"
}

# Mode both: three files named after the song, each identical to the Linux
# build's, and the console text of all three conversions.
case_mode_both() {
  local w l wd suffix
  w=$(fresh_dir "$melody" 曲.mid)
  l=$(fresh_dir "$melody" 曲.mid)
  wd=$(windows_dir "$w")
  run_windows win "$w" 曲.mid both
  run_linux lin "$l" 曲.mid both
  expect_status win 0
  expect_entries "$w" 曲.mid 曲-circle.osu 曲-slider-horizontal.osu 曲-slider-vertical.osu
  for suffix in circle slider-vertical slider-horizontal; do
    expect_same_bytes "$w/曲-$suffix.osu" "$l/曲-$suffix.osu"
  done
  grep -qF "出力ファイル3: $wd\\曲-slider-horizontal.osu" "$work/win.out" || fail "no third output line"
  expect_same_console win lin out "$l" "$wd"
}

# A file that does not exist: the Japanese message names it, status 1, and
# nothing is written.
case_missing_file() {
  local w got
  w=$(fresh_dir)
  run_windows win "$w" 無い.mid
  expect_status win 1
  expect_entries "$w"
  read_text got "$work/win.err"
  [ "$got" = $'エラー: MIDIファイルを開けません: 無い.mid\r\n' ] ||
    fail "stderr is [$(cat "$work/win.err")]"
}

# In mode both the first failure ends the run before any file is written.
case_missing_file_mode_both() {
  local w l wd got
  w=$(fresh_dir)
  l=$(fresh_dir)
  wd=$(windows_dir "$w")
  run_windows win "$w" 'sub\無い.mid' both
  run_linux lin "$l" 'sub/無い.mid' both
  expect_status win 1
  expect_entries "$w"
  read_text got "$work/win.err"
  [ "$got" = $'エラー: MIDIファイルを開けません: sub\\無い.mid\r\n' ] ||
    fail "stderr is [$(cat "$work/win.err")]"
  expect_same_console win lin out "$l" "$wd"
}

# No arguments: the usage text on standard error; an unknown Japanese mode
# word comes back intact in its message.
case_usage_and_invalid_mode() {
  local w l got
  w=$(fresh_dir "$melody" 曲.mid)
  l=$(fresh_dir "$melody" 曲.mid)
  run_windows win "$w"
  run_linux lin "$l"
  expect_status win 1
  # The first line names the program as typed, which differs by platform.
  sed -i '1s/^使用方法: .* </使用方法: onpu </' "$work/win.err" "$work/lin.err"
  expect_same_console win lin err "$l" "$l"
  run_windows win "$w" 曲.mid 円
  expect_status win 1
  expect_entries "$w" 曲.mid
  read_text got "$work/win.err"
  [ "$got" = $'エラー: 無効なモード \'円\'\r\n' ] || fail "stderr is [$(cat "$work/win.err")]"
  [ ! -s "$work/win.out" ] || fail "standard output is not empty: [$(cat "$work/win.out")]"
}

# compare_modes MIDI NAME: every mode word, Windows against Linux: status,
# .osu bytes and both console streams.
compare_modes() {
  local midi=$1 name=$2 mode w l wd
  for mode in circle slider-vertical slider-horizontal; do
    w=$(fresh_dir "$midi" "$name")
    l=$(fresh_dir "$midi" "$name")
    wd=$(windows_dir "$w")
    run_windows win "$w" "$name" "$mode"
    run_linux lin "$l" "$name" "$mode"
    expect_status win "$(cat "$work/lin.status")"
    if [ -f "$l/${name%.*}.osu" ]; then
      expect_same_bytes "$w/${name%.*}.osu" "$l/${name%.*}.osu"
    else
      expect_entries "$w" "$name"
    fi
    expect_same_console win lin out "$l" "$wd"
    expect_same_console win lin err "$l" "$wd"
  done
}

case_melody_all_modes() {
  compare_modes "$melody" melody.mid
}

# Real files, some of them damaged: tempo changes, many notes, odd chunks.
case_corpus_all_modes() {
  if [ ! -d "$corpus" ]; then
    echo "  skipped: no MIDI corpus at $corpus"
    return
  fi
  local file
  for file in test-2-tracks-type-1.mid test-all-gm-sounds.mid test-non-midi-track.mid test-track-length.mid; do
    [ -f "$corpus/$file" ] && compare_modes "$corpus/$file" "$file"
  done
}

# Maps for play at star ratings in every band, with mode both: the same notes
# chosen, the same layout (sliders, combos, breaks), the same ratings
# printed, though the C library's maths functions round otherwise on
# Windows. Songs of bench/play_songs.py give sliders and breaks.
case_stars_all_modes() {
  local files=("$melody") file name w l wd osu written songs="$work/songs"
  for name in test-all-gm-sounds.mid test-karaoke-kar.mid test-multichannel-chords-3.mid; do
    [ -f "$corpus/$name" ] && files+=("$corpus/$name")
  done
  if python3 "$here/../../bench/play_songs.py" "$songs" >/dev/null; then
    files+=("$songs/played.mid" "$songs/arrangement.mid" "$songs/etude-played.mid")
  else
    fail "bench/play_songs.py could not write its songs"
  fi
  for file in "${files[@]}"; do
    name=$(basename "$file")
    w=$(fresh_dir "$file" "$name")
    l=$(fresh_dir "$file" "$name")
    wd=$(windows_dir "$w")
    run_windows win "$w" "$name" both --stars 0.8,2.3,3.3,4.6,5.8,7
    run_linux lin "$l" "$name" both --stars 0.8,2.3,3.3,4.6,5.8,7
    expect_status win "$(cat "$work/lin.status")"
    mapfile -t written < <(cd "$l" && LC_ALL=C ls -A)
    expect_entries "$w" "${written[@]}"
    for osu in "$l"/*.osu; do
      expect_same_bytes "$w/$(basename "$osu")" "$osu"
    done
    expect_same_console win lin out "$l" "$wd"
    expect_same_console win lin err "$l" "$wd"
  done
}

# With its input and output redirected onpu.exe never waits for a key, not
# even when it prints its usage (the step's timeout would end a wait).
case_redirected_run_does_not_wait() {
  local w
  w=$(fresh_dir)
  run_windows win "$w"
  expect_status win 1
  ! grep -q 'キーを押す' "$work/win.out" "$work/win.err" || fail "asked for a key press with redirected input"
}

# The package as a user gets it: onpu.exe song.mid --osz with the SoundFont it
# ships, on a Japanese name, against the Linux build.
case_osz_package() {
  local w l
  w=$(fresh_dir "$melody" 曲.mid)
  l=$(fresh_dir "$melody" 曲.mid)
  run_package win "$w" 曲.mid --osz
  run_linux lin "$l" 曲.mid --osz
  expect_status win 0
  expect_status lin 0
  expect_entries "$w" 曲.mid 曲.osu 曲.osz
  compare_osz "$w" "$l" 曲 曲.osu
  if [ -n "${ONPU_OSZ_REFERENCE:-}" ]; then
    local r
    r=$(fresh_dir "$melody" 曲.mid)
    (cd "$r" && "$ONPU_OSZ_REFERENCE" 曲.mid --osz >/dev/null 2>&1)
    expect_same_bytes "$w/曲.osz" "$r/曲.osz"
  fi
}

case_osz_package_mode_both() {
  local w l
  w=$(fresh_dir "$melody" 曲.mid)
  l=$(fresh_dir "$melody" 曲.mid)
  run_package win "$w" 曲.mid both --osz
  run_linux lin "$l" 曲.mid both --osz
  expect_status win 0
  expect_entries "$w" 曲.mid 曲-circle.osu 曲-slider-horizontal.osu 曲-slider-vertical.osu 曲.osz
  compare_osz "$w" "$l" 曲 曲-circle.osu 曲-slider-vertical.osu 曲-slider-horizontal.osu
}

case_osz_package_same_bytes_twice() {
  local a b
  a=$(fresh_dir "$melody" song.mid)
  b=$(fresh_dir "$melody" song.mid)
  run_package win "$a" song.mid --osz
  expect_status win 0
  run_package win "$b" song.mid --osz
  expect_status win 0
  expect_same_bytes "$a/song.osz" "$b/song.osz"
}

# A song long enough for its MP3 to be encoded in two halves at once and
# joined: the joined stream must be the Linux build's byte for byte.
case_osz_package_long_song() {
  local song="$corpus/test-all-gm-sounds.mid" w r
  if [ ! -f "$song" ] || [ -z "${ONPU_OSZ_REFERENCE:-}" ]; then
    echo "  skipped: needs $song and ONPU_OSZ_REFERENCE"
    return
  fi
  w=$(fresh_dir "$song" gm.mid)
  r=$(fresh_dir "$song" gm.mid)
  run_package win "$w" gm.mid --osz
  expect_status win 0
  (cd "$r" && "$ONPU_OSZ_REFERENCE" gm.mid --osz >/dev/null 2>&1)
  expect_same_bytes "$w/gm.osz" "$r/gm.osz"
}

# Without the shipped SoundFont and with none named: the message says where
# onpu looked, status 1, and nothing is written.
case_osz_package_without_soundfont() {
  local w
  unpack_package || return
  w=$(fresh_dir "$melody" 曲.mid)
  mv "$package_dir/soundfonts" "$work/soundfonts-aside"
  run_package win "$w" 曲.mid --osz
  mv "$work/soundfonts-aside" "$package_dir/soundfonts"
  expect_status win 1
  expect_entries "$w" 曲.mid
  grep -q 'SoundFont が見つかりません.*soundfonts\\FluidR3_GM.sf2' "$work/win.err" ||
    fail "stderr does not name the shipped place: [$(cat "$work/win.err")]"
  run_package win "$w" 曲.mid --osz --soundfont 無い.sf2
  expect_status win 1
  expect_entries "$w" 曲.mid
}

passed=0
for name in "${cases[@]}"; do
  if ! declare -F "case_$name" >/dev/null; then
    echo "unknown case: $name" >&2
    exit 2
  fi
  failed_case=0
  start=$SECONDS
  "case_$name"
  if [ $failed_case = 0 ]; then
    echo "ok   $name ($((SECONDS - start)) s)"
    passed=$((passed + 1))
  else
    echo "FAIL $name"
    failures=$((failures + 1))
  fi
done
echo "windows e2e: $passed passed, $failures failed"
[ $failures = 0 ]
