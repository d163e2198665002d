#!/usr/bin/env bash
# The Debian package, checked as a member would use it: builds it with CPack
# from the build folder, checks it with lintian and the menu entry with
# desktop-file-validate (an error fails), installs it with apt-get, runs the
# installed velmo-cli on a generated race day in a fresh home, starts the
# installed velmo offscreen through its initial setup, checks that nothing was
# written under /usr, and removes the package. Run by .ci/run after
# scripts/test.sh (which leaves the build folder built).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
bash scripts/install-deps.sh
SUDO=""
if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi
BUILD=${VELMO_BUILD_DIR:-build}
BUILD=$(cd "$BUILD" 2>/dev/null && pwd || echo "$ROOT/$BUILD")
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)"

step() { echo "== package-test: $*"; }

step "desktop-file-validate"
desktop-file-validate packaging/velmo.desktop

step "cpack -G DEB"
rm -rf "$BUILD/package"
(cd "$BUILD" && cpack -G DEB >/dev/null)
DEBS=("$BUILD"/package/velmo_*_amd64.deb)
[ "${#DEBS[@]}" -eq 1 ] && [ -f "${DEBS[0]}" ] || { echo "package-test: no single velmo_*_amd64.deb" >&2; exit 1; }
DEB=${DEBS[0]}
echo "$(basename "$DEB"): $(du -k "$DEB" | cut -f1) KB"
dpkg-deb --field "$DEB" Depends

step "lintian"
# Tags left on purpose are overridden, each with its reason, in packaging/lintian-overrides
# (installed as /usr/share/lintian/overrides/velmo).
lintian --fail-on error --tag-display-limit 0 --show-overrides "$DEB"

step "apt-get install"
export DEBIAN_FRONTEND=noninteractive
(cd "$(dirname "$DEB")" && $SUDO apt-get install -y --no-install-recommends "./$(basename "$DEB")" >/dev/null)
trap '$SUDO apt-get remove -y velmo >/dev/null || true' EXIT
test -x /usr/bin/velmo && test -x /usr/bin/velmo-cli && test -f /usr/share/velmo/initDB/kova_this.mdb
velmo-cli --version
man -w velmo-cli >/dev/null

WORK=$(mktemp -d /tmp/velmo-package-XXXXXX)
STAMP=$WORK/stamp
touch "$STAMP"
sleep 1
# A fresh member: no settings, no folders; everything the programs write goes below this home.
run_as_member() {
  env -i PATH=/usr/bin:/bin HOME="$WORK/$1" LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen "${@:2}"
}

step "velmo-cli on a generated race day"
M=$WORK/cli
mkdir -p "$M/.config/Velmo" "$M/db" "$M/lzh"
cp /usr/share/velmo/initDB/*.mdb "$M/db/"
printf '[main]\r\nDBDir=%s/db/\r\nLzhDir=%s/lzh/\r\n' "$M" "$M" >"$M/.config/Velmo/kova.ini"
chmod 600 "$M/.config/Velmo/kova.ini"
"$BUILD/velmo/velmo-fixture" day --out "$WORK/day" --date 20050312 --kinds all >/dev/null
run_as_member cli velmo-cli register "$WORK"/day/*.lzh 2>"$WORK/register.err" || { cat "$WORK/register.err"; exit 1; }
run_as_member cli velmo-cli list | tee "$WORK/list.txt"
grep -q 20050312 "$WORK/list.txt"
test -f "$M/.local/state/Velmo/VelmoLog.dat"
test -d "$M/.cache/Velmo/tmp" && test -d "$M/.cache/Velmo/dwn"

step "velmo offscreen through the initial setup"
S=$WORK/screen
mkdir -p "$S"
run_as_member screen LD_PRELOAD="$BUILD/tools/velmo-drive.so" velmo 2>"$WORK/velmo.err" || { cat "$WORK/velmo.err"; exit 1; }
cat "$WORK/velmo.err"
grep -q 'the main screen is shown' "$WORK/velmo.err"
for f in kova_this.mdb kova_data.mdb kova_code.mdb; do test -f "$S/.local/share/Velmo/DB/$f"; done
test -d "$S/.local/share/Velmo/Lzh"
grep -q "^DBDir=$S/.local/share/Velmo/DB/" "$S/.config/Velmo/kova.ini"
test -f "$S/.local/state/Velmo/VelmoLog.dat"

step "nothing written under /usr"
WRITTEN=$(find /usr -xdev -newer "$STAMP" 2>/dev/null || true)
if [ -n "$WRITTEN" ]; then
  echo "package-test: written under /usr while the installed programs ran:" >&2
  echo "$WRITTEN" >&2
  exit 1
fi

step "apt-get remove"
trap - EXIT
$SUDO apt-get remove -y velmo >/dev/null
test ! -e /usr/bin/velmo && test ! -e /usr/share/velmo
rm -rf "$WORK"
echo "package-test: ok"
