#!/usr/bin/env bash
# Builds the libFuzzer target with AddressSanitizer and UndefinedBehavior-
# Sanitizer (clang) into build-fuzz/ and fuzzes the conversion for a bounded
# time with one worker. Fails on any crash, leak, timeout (5 s per input) or
# out-of-memory (512 MB); the input that caused it is left in
# build-fuzz/artifacts/ and its name is printed.
#
#   scripts/fuzz.sh [SECONDS]      (default 180)
#
# The working corpus, build-fuzz/corpus/, is kept between runs and seeded
# each time from fuzz/corpus/, the shared MIDI corpus next to the checkout
# (../shared/corpus/smf-test-files) when it is there, and examples/*.mid.
set -euo pipefail

# The whole script is read before it runs, so editing it during a long run
# does not change the run.
main() {
  cd "$(dirname "$0")/.."
  seconds="${1:-180}"
  build=build-fuzz

  # clang and its runtime (libFuzzer, the sanitizers), from Debian's packages.
  command -v clang++ >/dev/null || scripts/install-deps.sh clang
  clang_major="$(clang++ -dumpversion | cut -d. -f1)"
  scripts/install-deps.sh "libclang-rt-${clang_major}-dev"

  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DONPU_FUZZ=ON -DONPU_SANITIZE=ON -DONPU_TESTS=OFF \
    -DONPU_AUDIO=OFF >/dev/null
  cmake --build "$build" --target onpu_fuzz -j 2

  corpus="$build/corpus"
  artifacts="$build/artifacts"
  mkdir -p "$corpus" "$artifacts"
  cp fuzz/corpus/* "$corpus"/
  shopt -s nullglob
  for seed in ../shared/corpus/smf-test-files/* examples/*.mid; do
    [ -f "$seed" ] && cp "$seed" "$corpus/seed-$(basename "$seed")"
  done
  chmod u+w "$corpus"/*

  # One worker: the machine is shared. Inputs are kept to 8 KB, which runs
  # many times faster than the largest seeds and reaches the same code (the
  # larger seeds are cut to that size). Leaks are found by LeakSanitizer.
  export ASAN_OPTIONS="${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}"
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
  status=0
  "$build/onpu_fuzz" "$corpus" \
    -max_total_time="$seconds" -timeout=5 -rss_limit_mb=512 -max_len=8192 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" \
    || status=$?
  if [ "$status" -ne 0 ]; then
    echo "fuzz: the conversion failed on an input (exit status $status); see $artifacts/:" >&2
    ls -l "$artifacts" >&2
    echo "replay one with: $build/onpu_fuzz $artifacts/<file>" >&2
    exit 1
  fi
  echo "fuzz: no finding in ${seconds} s; corpus $(ls "$corpus" | wc -l) files"
}
main "$@"
