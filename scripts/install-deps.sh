#!/usr/bin/env bash
# Installs every Debian package that building, testing, benchmarking and fuzzing need.
# Idempotent and quiet: when everything is present it returns at once without touching apt.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git python3
  clang libclang-rt-14-dev clang-format
  nlohmann-json3-dev libsqlite3-dev sqlite3 uuid-dev libhowardhinnant-date-dev libasio-dev
  libgtest-dev libgmock-dev librapidcheck-dev libbenchmark-dev
  libplist-dev
  # The watch's screens (Qt Quick 6.4), their QML imports, and a font to render text offscreen.
  qt6-base-dev qt6-declarative-dev qt6-declarative-dev-tools libgl-dev
  qml6-module-qtquick qml6-module-qtquick-window qml6-module-qtquick-controls
  qml6-module-qtquick-templates qml6-module-qtquick-layouts qml6-module-qtqml-workerscript
  fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq >/dev/null
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
