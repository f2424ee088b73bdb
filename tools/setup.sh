#!/usr/bin/env bash
# Sourced by run.sh and test.sh: installs what is missing on a Debian 12 machine, then configures
# and builds into the folder given as $1 (extra CMake arguments follow).
set -euo pipefail

packages=(build-essential cmake ninja-build pkg-config libgtest-dev
          libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
          libavfilter-dev libopencore-amrnb-dev mediainfo qt6-base-dev
          desktop-file-utils appstream man-db dpkg-dev locales)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# Some tests run the window and the command line under a comma-decimal locale.
if ! locale -a 2>/dev/null | grep -qiE '^de_DE\.utf-?8$'; then
    echo "Generating the de_DE.UTF-8 locale"
    $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi

build_dir=$1
shift
# CLIPWRIGHT_WERROR is passed every time, so a build folder does not keep it from an earlier run.
cmake -S "$(dirname "${BASH_SOURCE[0]}")/.." -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCLIPWRIGHT_WERROR="${CLIPWRIGHT_WERROR:-OFF}" "$@" >/dev/null
# CLIPWRIGHT_TARGETS limits the build to the targets named (a sanitizer pass of one suite).
cmake --build "$build_dir" -j2 ${CLIPWRIGHT_TARGETS:+--target $CLIPWRIGHT_TARGETS}
