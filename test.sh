#!/usr/bin/env bash
# Builds everything from scratch if needed and runs every test through CTest.
# CLIPWRIGHT_SANITIZE=address,undefined ./test.sh runs the same tests in a sanitizer build;
# arguments go to CTest (e.g. -R engine_tests), CLIPWRIGHT_TARGETS limits what is built,
# CLIPWRIGHT_WERROR=ON makes every compiler warning an error (CI sets it).
set -euo pipefail
cd "$(dirname "$0")"
if [ -n "${CLIPWRIGHT_SANITIZE:-}" ]; then
    build=build-sanitize-${CLIPWRIGHT_SANITIZE//,/-}
    source tools/setup.sh "$build" -DCLIPWRIGHT_SANITIZE="$CLIPWRIGHT_SANITIZE"
else
    build=build
    source tools/setup.sh "$build"
fi
cd "$build"
ctest --output-on-failure -j2 "$@"
