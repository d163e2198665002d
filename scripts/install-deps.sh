#!/usr/bin/env bash
# Installs every Debian package needed to build, run and test Velmo.
set -euo pipefail
SUDO=""
if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi
PKGS=(build-essential cmake pkg-config
      qt6-base-dev libqt6network6 qt6-qpa-plugins qt6-translations-l10n
      libsqlite3-dev sqlite3 libarchive-dev
      libgtest-dev googletest jlha-utils
      python3 xvfb xauth fonts-noto-cjk
      postgresql libpq-dev
      dpkg-dev file lintian desktop-file-utils man-db)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
