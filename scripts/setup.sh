#!/bin/sh
# Installs the Debian packages Lumora builds and runs with, only those missing.
# Usage: scripts/setup.sh [run | package | test]
#   run      adds what the desktop program needs to show text
#   package  adds what scripts/package.sh needs to build the Debian package
#   test     adds that, the checkers the package tests run and the desktop
#            program's fonts, so the tests lay the window out as users see it
set -eu
pkgs="build-essential cmake pkg-config libgtest-dev libgmock-dev libbenchmark-dev libcjson-dev libsimdjson-dev qt6-base-dev libqcustomplot-dev libgl-dev libmosquitto-dev mosquitto mosquitto-clients"
if [ "${1:-}" = run ] || [ "${1:-}" = test ]; then
  pkgs="$pkgs fonts-noto-cjk"
fi
if [ "${1:-}" = package ] || [ "${1:-}" = test ]; then
  pkgs="$pkgs dpkg-dev file"
fi
if [ "${1:-}" = test ]; then
  pkgs="$pkgs lintian desktop-file-utils appstream man-db"
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
