#!/bin/sh
# Sets up, builds from nothing and runs every test, then builds the Debian
# package and checks it (scripts/package-test.sh).
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh test
rm -rf build/test
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/test -j2
cd build/test
QT_QPA_PLATFORM=offscreen ctest -j2 --output-on-failure --timeout 600
cd ../..
sh scripts/package-test.sh
