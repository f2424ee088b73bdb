#!/usr/bin/env bash
# The installed tree and the Debian package, checked as a desktop and a packager would:
# install into a scratch prefix, validate the desktop files and manual pages, run the installed
# command line, then build the .deb and check its fields, its files and its unpacked programs.
# Usage: install_test.sh BUILD_DIR MEDIA_FILE
set -euo pipefail
build=$1
media=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
id=com.vexlane.Clipwright
for file in bin/clipwright bin/clipwright-cli share/clipwright/help/index.html \
            share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
            share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/256x256/apps/$id.png \
            share/man/man1/clipwright.1.gz share/man/man1/clipwright-cli.1.gz; do
    [ -e "$prefix/$file" ] || fail "not installed: $file"
done

desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop entry"
appstreamcli validate-tree --no-net "$prefix" >"$scratch/appstream.txt" 2>&1 \
    || { cat "$scratch/appstream.txt"; fail "metainfo"; }
grep -q '^Icon='"$id"'$' "$prefix/share/applications/$id.desktop" || fail "Icon= is not $id"
grep -q '^Exec=clipwright %F$' "$prefix/share/applications/$id.desktop" || fail "Exec="
for page in clipwright clipwright-cli; do
    warnings=$(MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man $page: $warnings"
    MANWIDTH=80 man -l "$prefix/share/man/man1/$page.1.gz" 2>/dev/null | grep -q "^NAME" \
        || fail "man $page renders no NAME"
done

# The installed command line binds the libraries and reads a real file.
"$prefix/bin/clipwright-cli" --version | grep -q '^libavcodec.so.59 ' || fail "--version"
"$prefix/bin/clipwright-cli" probe "$media" | grep -q '^streams: ' || fail "installed probe"

# The Debian package: its Depends names the libraries bound at run time and those linked.
cpack -G DEB -B "$scratch/package" --config "$build/CPackConfig.cmake" >/dev/null
deb=$(ls "$scratch"/package/clipwright_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for package in libavcodec59 libavformat59 libavutil57 libswscale6 libswresample4 libavfilter8 \
               libopencore-amrnb0 libqt6widgets6 libqt6core6 qt6-qpa-plugins; do
    [[ ", $depends," == *", $package"[\ ,]* ]] || fail "Depends lacks $package: $depends"
done
contents=$(dpkg-deb -c "$deb")
for file in ./usr/bin/clipwright ./usr/bin/clipwright-cli ./usr/share/clipwright/help/index.html \
            ./usr/share/applications/$id.desktop ./usr/share/man/man1/clipwright-cli.1.gz; do
    grep -q " $file\$" <<<"$contents" || fail "package lacks $file"
done
dpkg-deb -x "$deb" "$scratch/root"
"$scratch/root/usr/bin/clipwright-cli" probe "$media" | grep -q '^streams: ' \
    || fail "packaged probe"
echo "installed tree and package pass"
