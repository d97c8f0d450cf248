#!/bin/sh
# Sets up, builds and starts the desktop program Lumora in the folder work/
# (its settings file Lumora.ini lives there).
#   scripts/run.sh [--demo] [program arguments]
# With --demo the instrument simulator sends live data to 127.0.0.1:7008 (and
# announces itself for Tools > Active SA) as long as the program runs; press
# Open to see it.
set -eu
cd "$(dirname "$0")/.."
top=$(pwd)
demo=0
if [ "${1:-}" = --demo ]; then
  demo=1
  shift
fi
sh scripts/setup.sh run
cmake -S . -B build/run -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMORA_GUI=ON -DLUMORA_BENCH=OFF >/dev/null
cmake --build build/run -j2 --target lumora-cli --target lumora
mkdir -p work
cd work
for s in daq.sh convert.sh 7z.sh; do
  [ -f "$top/scripts/$s" ] && [ ! -f "$s" ] && cp "$top/scripts/$s" .
done
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display; on a machine without one try: xvfb-run -a sh scripts/run.sh --demo" >&2
fi
sim=""
if [ "$demo" = 1 ]; then
  "$top/build/run/src/cli/lumora-cli" simulate --port 7008 --rate 100 --channels 8 --peaks 4 --announce --quiet &
  sim=$!
  trap 'kill "$sim" 2>/dev/null || true' EXIT INT TERM
fi
status=0
"$top/build/run/src/gui/lumora" "$@" || status=$?
exit $status
