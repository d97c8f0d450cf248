#!/bin/sh
# Sets up, builds and starts Lumora. With --demo an instrument simulator sends
# live data to 127.0.0.1:7008 as long as the program runs.
set -eu
cd "$(dirname "$0")/.."
top=$(pwd)
sh scripts/setup.sh run
cmake -S . -B build/run -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMORA_BENCH=OFF >/dev/null
cmake --build build/run -j2 --target lumora-cli $( [ -d src/gui ] && ls src/gui/*.cpp >/dev/null 2>&1 && echo "--target lumora" )
mkdir -p work
cd work
for s in daq.sh convert.sh 7z.sh; do
  [ -f "$top/scripts/$s" ] && [ ! -f "$s" ] && cp "$top/scripts/$s" .
done
if [ ! -x "$top/build/run/src/gui/lumora" ]; then
  exec "$top/build/run/src/cli/lumora-cli" --help
fi
sim=""
if [ "${1:-}" = --demo ]; then
  "$top/build/run/src/cli/lumora-cli" simulate --rate 100 &
  sim=$!
fi
status=0
"$top/build/run/src/gui/lumora" || status=$?
[ -n "$sim" ] && kill "$sim" 2>/dev/null || true
exit $status
