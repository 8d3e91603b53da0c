#!/usr/bin/env bash
# Builds onpu with its tests and runs every test. Usage: scripts/test.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"

scripts/install-deps.sh
# The consumer test decodes beatmaps with a published .osu decoder and rates
# them with the published difficulty calculation, both npm packages. Without
# them (or without node) it is skipped; with ONPU_REQUIRE_CONSUMER=1, as in CI,
# the run stops here instead, since a skipped test would pass unseen.
consumer=tests/consumer
require_consumer=${ONPU_REQUIRE_CONSUMER:-0}
if [ -f "$consumer/package.json" ] &&
  { [ ! -d "$consumer/node_modules/osu-parsers" ] || [ ! -d "$consumer/node_modules/osu-standard-stable" ]; }; then
  if ! npm ci --prefix "$consumer" --no-audit --no-fund --loglevel=error; then
    if [ "$require_consumer" = 1 ]; then
      echo "npm ci --prefix $consumer failed, and ONPU_REQUIRE_CONSUMER=1 requires the consumer test to run" >&2
      exit 1
    fi
    echo "npm install failed: the consumer test will be skipped"
  fi
fi
if [ "$require_consumer" = 1 ] && ! node --version >/dev/null 2>&1; then
  echo "node does not run, and ONPU_REQUIRE_CONSUMER=1 requires the consumer test to run" >&2
  exit 1
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DONPU_WERROR=ON
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
