#!/usr/bin/env bash
# Renders every screen in a real window under Xvfb into build/screenshots/*.png
# (at the size it opens with; min_*.png at the smallest size it allows),
# with the CJK font the set-up installs (fonts-noto-cjk).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${VELMO_BUILD_DIR:-build}
# A relative build folder is taken from the source folder, an absolute one as it stands.
case "$BUILD" in /*) ;; *) BUILD="$PWD/$BUILD" ;; esac
cmake --build "$BUILD" --target velmo-screenshots velmo_home -j2 >/dev/null
OUT="$BUILD/screenshots"
rm -rf "$OUT"
# A copy of the program folder, so that the busy window's topic counter of the
# build stays untouched.
HOME_COPY=$(mktemp -d)
trap 'rm -rf "$HOME_COPY"' EXIT
cp -r "$BUILD/velmo/." "$HOME_COPY/"
export VELMO_HOME="$HOME_COPY"
export QT_QPA_PLATFORM=xcb
xvfb-run -a -s "-screen 0 1400x900x24" "$BUILD/velmo/velmo-screenshots" "$OUT"
echo "pictures in $OUT"
