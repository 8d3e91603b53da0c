#!/usr/bin/env bash
# Builds onpu and its tests with AddressSanitizer and UndefinedBehavior-
# Sanitizer into build-sanitize/ and runs the whole CTest suite; the first
# report of either sanitizer (a leak included) fails the run.
#
#   scripts/sanitize.sh            clang++ when it is there, else g++
#   CXX=g++ scripts/sanitize.sh    a given compiler
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-sanitize

[ -x scripts/install-deps.sh ] && scripts/install-deps.sh
compiler="${CXX:-}"
if [ -z "$compiler" ]; then
  if command -v clang++ >/dev/null; then compiler=clang++; else compiler=g++; fi
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER="$compiler" -DONPU_SANITIZE=ON -DONPU_FUZZ=OFF >/dev/null
cmake --build "$build" -j 2

# Every test and every run of the built program inherits these. No single
# allocation may reach 1 GB: a length read from a damaged file must never
# size one (the hostile-input tests claim lengths of 4 GB).
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:max_allocation_size_mb=1024"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
ctest --test-dir "$build" --output-on-failure -j 2
