#!/usr/bin/env bash
# Builds the command line with every function instrumented (into build-call-walk/), converts
# each FILE with each profile given, and walks the recorded calls of the run file by file:
#   tools/call_walk/call_walk.sh "34 21 5 38" tests/media/mp4_h264_aac_560x320.mp4 ...
# ROOT (default RunFilesOf, the run) and SCOPE (default FFMPEG/) go to call_walk.py; -v there
# lists every change of file.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$top/build-call-walk
profiles=$1
shift
mkdir -p "$build"
g++ -std=c++20 -O2 -fPIC -c "$here/call_walk_hook.cpp" -o "$build/call_walk_hook.o"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_FLAGS="-finstrument-functions -finstrument-functions-exclude-file-list=/usr/include" \
      -DCMAKE_CXX_STANDARD_LIBRARIES="$build/call_walk_hook.o" >/dev/null
cmake --build "$build" -j2 --target clipwright-cli
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
n=0
for file in "$@"; do
    for profile in $profiles; do
        n=$((n + 1))
        mkdir "$out/$n"
        CALL_WALK_OUT="$out/$n.edges" "$build/cli/clipwright-cli" convert --profile "$profile" \
            --output-folder "$out/$n" "$file" >/dev/null 2>&1 || echo "profile $profile on $file failed"
    done
done
cat "$out"/*.edges | sort -u >"$out/all"
python3 "$here/call_walk.py" "$build/cli/clipwright-cli" "$out/all" "${ROOT:-RunFilesOf}" \
    "${SCOPE:-FFMPEG/}" ${VERBOSE:+-v}
