#!/bin/sh
# High-speed capture of the instrument's UDP stream.
#   daq.sh PORT COUNT SECONDS INTERVAL FILE
# Receives UDP PORT into FILE.dat (binary LMRA records, the recorder's format)
# until COUNT frames or SECONDS seconds have passed (0: no limit), writing the
# buffered records out at least every INTERVAL seconds, then prints the frames
# captured and the frames the system dropped. The report also goes to FILE.log.
# A FILE with blanks arrives as several words; they are joined again.
set -u

find_cli() {
  if [ -n "${LUMORA_CLI:-}" ] && [ -x "$LUMORA_CLI" ]; then echo "$LUMORA_CLI"; return 0; fi
  here=$(cd "$(dirname "$0")" && pwd)
  if [ -x "$here/lumora-cli" ]; then echo "$here/lumora-cli"; return 0; fi
  if command -v lumora-cli >/dev/null 2>&1; then command -v lumora-cli; return 0; fi
  # A source tree: the scripts sit in work/ or scripts/ beside build/.
  for c in "$here/../build/run/src/cli/lumora-cli" $(ls -t "$here"/../build/*/src/cli/lumora-cli 2>/dev/null); do
    if [ -x "$c" ]; then echo "$c"; return 0; fi
  done
  return 1
}

if [ $# -lt 5 ]; then
  echo "usage: daq.sh PORT COUNT SECONDS INTERVAL FILE" >&2
  exit 2
fi
cli=$(find_cli) || { echo "daq.sh: lumora-cli not found (next to this script, on PATH or in ../build/*/src/cli)" >&2; exit 127; }

port=$1 count=$2 seconds=$3 interval=$4
shift 4
stem=$(printf '%s' "$*" | tr '\\' '/')
stem=${stem%.dat}
# A relative name gets "./" so that one starting with "-" is no option to
# dirname, mkdir or tee.
case $stem in /*) ;; *) stem=./$stem ;; esac
mkdir -p -- "$(dirname -- "$stem")" 2>/dev/null
log="$stem.log"

status_file=$(mktemp "${TMPDIR:-/tmp}/daq.XXXXXX") || exit 1
{
  printf '== %s daq.sh %s\n' "$(date '+%Y-%m-%d %H:%M:%S')" "$port $count $seconds $interval $*"
  "$cli" hdaq "$port" "$count" "$seconds" "$interval" "$@" 2>&1
  echo $? >"$status_file"
} | (trap '' INT HUP; tee -a -- "$log")
# Ctrl-C or a closed terminal (SIGHUP) stops the capture, which still writes
# its report; tee ignores both so the report still reaches the log.
status=$(cat "$status_file" 2>/dev/null)
rm -f "$status_file"
exit "${status:-1}"
