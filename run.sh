#!/usr/bin/env bash
# Builds if needed and starts Clipwright. Until the window exists this is the command line:
#   ./run.sh probe FILE...
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
(cd "$here" && source tools/setup.sh build) >&2
exec "$here/build/cli/clipwright-cli" "$@"
