#!/usr/bin/env bash
# Tests a built web site of onpu: installs what the tests need when it is
# missing (Debian's chromium, and puppeteer-core through `npm ci` in
# tests/web), then runs the worker's protocol under Node against the site's
# module and the page itself in headless Chromium, which gives it the example,
# a second song, a file with a Japanese name and a damaged file and checks every
# downloaded set against the Linux build's bytes. Prints each file's time in
# the page and natively.
#
# Usage: scripts/web-test.sh SITE_DIR LINUX_ONPU [--screenshot PNG]
#   SITE_DIR    the site that scripts/web-build.sh wrote
#   LINUX_ONPU  the Linux package's bin/onpu, run on the same files with the
#               site's SoundFont, or a folder of reference <name>.osz files
#   --screenshot PNG  also saves the page with its results
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

usage() {
  echo "usage: $0 SITE_DIR LINUX_ONPU [--screenshot PNG]" >&2
  exit 2
}

install_tools() {
  command -v chromium >/dev/null || "$root/scripts/install-deps.sh" chromium
  (cd "$root/tests/web" && npm ci --no-audit --no-fund --loglevel=error)
}

[ $# -ge 2 ] || usage
site=$(realpath "$1")
native=$(realpath "$2")
shift 2
[ -f "$site/onpu.js" ] || { echo "web-test: no onpu.js in $site" >&2; exit 1; }

install_tools
echo "web-test: the worker's protocol under Node"
ONPU_WEB_MODULE=$site ONPU_NATIVE=$native node --test "$root/tests/web/"
echo "web-test: the page in headless Chromium"
node "$root/tests/web/browser.js" "$site" "$native" "$@"
