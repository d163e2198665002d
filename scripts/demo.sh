#!/usr/bin/env bash
# The main job on a fresh machine: installs what is needed, builds, lays out a
# demo home (program folder, settings folder, fresh databases from initDB/),
# generates a race day's archives, registers them with velmo-cli and prints the
# data list. With a display it then opens the screen mode on that home.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD=${VELMO_BUILD_DIR:-build}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
HOME_DIR="$PWD/$BUILD/velmo"
DEMO=${VELMO_DEMO_DIR:-$PWD/demo}
rm -rf "$DEMO"
mkdir -p "$DEMO/config" "$DEMO/db" "$DEMO/lzh" "$DEMO/archives"
cp "$HOME_DIR"/initDB/*.mdb "$DEMO/db/"
printf '[main]\r\nLzhDir=%s/\r\nDBDir=%s/\r\nUserID=\r\nPasswd=\r\nVAN=0\r\n' "$DEMO/lzh" "$DEMO/db" > "$DEMO/config/kova.ini"
chmod 600 "$DEMO/config/kova.ini"
export VELMO_CONFIG_DIR="$DEMO/config"
echo "== Generating the archives of race day 2005-03-12"
"$HOME_DIR/velmo-fixture" day --out "$DEMO/archives" --date 20050312 --kinds all
echo "== Registering them into $DEMO/db"
"$HOME_DIR/velmo-cli" register "$DEMO"/archives/*.lzh
echo "== Tデータ一覧テーブル (this week's data list)"
sqlite3 -header -column "$DEMO/db/kova_this.mdb" "select * from Tデータ一覧テーブル order by 年月日;"
echo "== Rows per table"
for t in $(sqlite3 "$DEMO/db/kova_this.mdb" "select name from sqlite_master where type='table' and name like 'T%' order by name;"); do
  n=$(sqlite3 "$DEMO/db/kova_this.mdb" "select count(*) from \"$t\";")
  [ "$n" != "0" ] && printf '  %-24s %s\n' "$t" "$n"
done
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "== Opening the screen mode on the demo home"
  "$HOME_DIR/velmo" &
fi
