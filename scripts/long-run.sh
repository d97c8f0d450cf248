#!/usr/bin/env bash
# A long run of `lumora-cli record --mqtt` against a real broker: the built-in
# simulator sends RATE frames/s of 64 readings for SECONDS, and the script
# prints what was sent, recorded and published, and the recorder's resident
# memory after 30 s and at the end.
#   usage: scripts/long-run.sh [SECONDS] [RATE] [BUILD_DIR]
set -euo pipefail
seconds=${1:-240}
rate=${2:-20000}
build=${3:-build/dev}
cli="$build/src/cli/lumora-cli"
[ -x "$cli" ] || { echo "no $cli: build first" >&2; exit 2; }
command -v mosquitto >/dev/null || { echo "mosquitto is needed (apt-get install mosquitto)" >&2; exit 2; }

work=$(mktemp -d)
trap 'kill $broker $recorder 2>/dev/null || true; rm -rf "$work"' EXIT
free_port() { python3 -c 'import socket;s=socket.socket();s.bind(("127.0.0.1",0));print(s.getsockname()[1])'; }
free_udp_port() { python3 -c 'import socket;s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM);s.bind(("127.0.0.1",0));print(s.getsockname()[1])'; }
mqtt_port=$(free_port)
udp_port=$(free_udp_port)
printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$mqtt_port" >"$work/broker.conf"
mosquitto -c "$work/broker.conf" >"$work/broker.log" 2>&1 &
broker=$!
sleep 1
mkdir "$work/rec"
(cd "$work" && exec "$OLDPWD/$cli" record --port "$udp_port" --dir "$work/rec" \
    --mqtt "mqtt://127.0.0.1:$mqtt_port/longrun" --seconds $((seconds * 2 + 60))) \
    >"$work/record.out" 2>&1 &
recorder=$!
sleep 2
rss() { awk '/VmRSS/ {print $2}' "/proc/$recorder/status" 2>/dev/null || { echo "the recorder ended early:" >&2; cat "$work/record.out" >&2; exit 1; }; }
"$cli" simulate --port "$udp_port" --rate "$rate" --channels 8 --peaks 8 \
    --seconds "$seconds" --quiet >"$work/simulate.out" 2>&1 &
simulator=$!
sleep 30
rss_30=$(rss)
rss_max=$rss_30
while kill -0 $simulator 2>/dev/null; do
    sleep 5
    now=$(rss || echo 0)
    [ "${now:-0}" -gt "$rss_max" ] && rss_max=$now
done
sleep 2
rss_end=$(rss)
kill -INT $recorder
wait $recorder || true
echo "simulator: $(tail -1 "$work/simulate.out")"
grep -E "^(stopped|ignored|frames published)" "$work/record.out"
echo "resident memory after 30 s: ${rss_30} KiB, highest later: ${rss_max} KiB, at the end: ${rss_end} KiB, growth: $(( (rss_max - rss_30) )) KiB"
