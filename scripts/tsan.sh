#!/usr/bin/env bash
# Builds onpu and its tests with ThreadSanitizer into build-tsan/ and runs
# the whole CTest suite: the note pass and the first walk of a large file run
# on several threads, and the tests make them do so on small files too. The
# first data race fails the run.
#
#   scripts/tsan.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-tsan

[ -x scripts/install-deps.sh ] && scripts/install-deps.sh

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ \
  -DONPU_SANITIZE_THREAD=ON -DONPU_AUDIO=OFF >/dev/null
cmake --build "$build" -j 2

export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
ctest --test-dir "$build" --output-on-failure -j 2
