#!/usr/bin/env bash
# Builds onpu with its tests and runs every test. Usage: scripts/test.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"

scripts/install-deps.sh
# The consumer test decodes beatmaps with a published .osu decoder.
if [ -f tests/consumer/package.json ] && [ ! -d tests/consumer/node_modules/osu-parsers ]; then
  npm ci --prefix tests/consumer --no-audit --no-fund --loglevel=error || echo "npm install failed: the consumer test will be skipped"
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DONPU_WERROR=ON
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
