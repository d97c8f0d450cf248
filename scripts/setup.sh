#!/bin/sh
# Installs the Debian packages Lumora builds and runs with, only those missing.
# Usage: scripts/setup.sh [run]   ("run" adds what the desktop program needs to show text)
set -eu
pkgs="build-essential cmake pkg-config libgtest-dev libgmock-dev libbenchmark-dev libcjson-dev libsimdjson-dev qt6-base-dev libqcustomplot-dev libgl-dev"
if [ "${1:-}" = run ]; then
  pkgs="$pkgs fonts-noto-cjk"
fi
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
