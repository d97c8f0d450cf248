#!/bin/sh
# Conversion of a high-speed capture to CSV.
#   convert.sh WAVELENGTH_OFFSET CHANNEL_OFFSET FILE
# Reads FILE.dat and writes FILE.csv: one row per frame with its time and
# counter and, per reading, the channel plus CHANNEL_OFFSET and the value plus
# WAVELENGTH_OFFSET. The report also goes to FILE.log. A FILE with blanks
# arrives as several words; they are joined again.
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

if [ $# -lt 3 ]; then
  echo "usage: convert.sh WAVELENGTH_OFFSET CHANNEL_OFFSET FILE" >&2
  exit 2
fi
cli=$(find_cli) || { echo "convert.sh: lumora-cli not found (next to this script, on PATH or in ../build/*/src/cli)" >&2; exit 127; }

wavelength=$1 channel=$2
shift 2
stem=$(printf '%s' "$*" | tr '\\' '/')
stem=${stem%.dat}
# A relative name gets "./" so that one starting with "-" is no option to
# dirname, mkdir or tee.
case $stem in /*) ;; *) stem=./$stem ;; esac
log="$stem.log"
[ -d "$(dirname -- "$stem")" ] || log=/dev/null

status_file=$(mktemp "${TMPDIR:-/tmp}/convert.XXXXXX") || exit 1
{
  printf '== %s convert.sh %s\n' "$(date '+%Y-%m-%d %H:%M:%S')" "$wavelength $channel $*"
  "$cli" hconvert "$wavelength" "$channel" "$@" 2>&1
  echo $? >"$status_file"
} | (trap '' INT HUP; tee -a -- "$log")
status=$(cat "$status_file" 2>/dev/null)
rm -f "$status_file"
exit "${status:-1}"
