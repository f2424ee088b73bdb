#!/usr/bin/env bash
# Builds if needed and starts Clipwright's window; `./run.sh cli ARGS...` runs the command line
# instead (for example ./run.sh cli probe FILE...).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
(cd "$here" && source tools/setup.sh build) >&2
if [ "${1:-}" = "cli" ]; then
    shift
    exec "$here/build/cli/clipwright-cli" "$@"
fi
exec "$here/build/app/clipwright" "$@"
