#!/bin/sh
# Takes the screenshots of docs/guide.md and docs/guide.zh.md anew, in both
# languages, under Xvfb: the whole set maximised on 1920x1080 (and again with
# the example sensor table), the main window on 1366x768 and 1280x720. Needs xvfb (xvfb-run) and imagemagick (convert).
#   scripts/guide-shots.sh [build folder, default build/dev]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build/dev}
cmake --build "$build" -j2 --target guide_shots lumora-cli
shots="$build/src/gui/guide_shots"
raw=$(mktemp -d)
trap 'rm -rf "$raw"' EXIT
for lang in en zh; do
  xvfb-run -a -s "-screen 0 1920x1080x24" "$shots" "$raw" --lang "$lang" --maximized --tools
  xvfb-run -a -s "-screen 0 1920x1080x24" "$shots" "$raw" --lang "$lang" --maximized \
    --sensors "$PWD/docs/sensors-example.csv"
  for size in 1366x768 1280x720; do
    xvfb-run -a -s "-screen 0 ${size}x24" "$shots" "$raw" --lang "$lang"
  done
done
# Only the pictures the guides show are kept; 256 colours keep them sharp and
# small.
mkdir -p docs/images
for name in $(grep -oh 'images/[^)]*\.png' docs/guide.md docs/guide.zh.md | sort -u); do
  convert "$raw/${name#images/}" -strip -colors 256 "PNG8:docs/$name"
done
ls -l docs/images
