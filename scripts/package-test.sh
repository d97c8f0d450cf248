#!/bin/sh
# Builds the Debian package and checks it without installing it: its file
# list, the programs run from an unpacked copy, the menu entry, the AppStream
# metadata, lintian and the manual pages. scripts/test.sh runs it after ctest.
#   scripts/package-test.sh
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh test
bash scripts/package.sh
deb=$(ls dist/lumora_*.deb)
version=$(dpkg-deb -f "$deb" Version)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/lumora-package.XXXXXX")
pids=""
cleanup() {
  for p in $pids; do kill "$p" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

# Waits up to $2 seconds for the file $1 to exist and not be empty.
wait_for_file() {
  n=0
  while [ ! -s "$1" ] && [ "$n" -lt $(($2 * 10)) ]; do
    sleep 0.1
    n=$((n + 1))
  done
  [ -s "$1" ]
}

echo "== $deb"
dpkg-deb -f "$deb" Package Version Architecture Depends
dpkg-deb -c "$deb" >"$scratch/list"
for f in usr/bin/lumora usr/bin/lumora-cli \
  usr/share/lumora/scripts/daq.sh usr/share/lumora/scripts/convert.sh usr/share/lumora/scripts/7z.sh \
  usr/share/applications/lumora.desktop usr/share/icons/hicolor/scalable/apps/lumora.svg \
  usr/share/icons/hicolor/48x48/apps/lumora.png usr/share/icons/hicolor/128x128/apps/lumora.png \
  usr/share/icons/hicolor/256x256/apps/lumora.png usr/share/metainfo/org.lumora.Lumora.metainfo.xml \
  usr/share/man/man1/lumora.1.gz usr/share/man/man1/lumora-cli.1.gz \
  usr/share/doc/lumora/README.md usr/share/doc/lumora/copyright usr/share/doc/lumora/changelog.gz \
  usr/share/doc/lumora/guide.md usr/share/doc/lumora/guide.zh.md usr/share/doc/lumora/images/1920x1080-main-en.png; do
  grep -q " \./$f\$" "$scratch/list" || fail "the package lacks /$f"
done
dpkg-deb -f "$deb" Depends | grep -q fonts-noto-cjk || fail "no dependency on fonts-noto-cjk"
dpkg-deb -f "$deb" Depends | grep -q libQt6Widgets || dpkg-deb -f "$deb" Depends | grep -q libqt6widgets || fail "no Qt dependency from shlibdeps"
pass "dpkg-deb -c lists the installed files"

root="$scratch/root"
dpkg -x "$deb" "$root"
cli="$root/usr/bin/lumora-cli"
[ "$("$cli" --version)" = "lumora-cli $version" ] || fail "lumora-cli --version: $("$cli" --version)"
[ "$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/lumora" --version)" = "lumora $version" ] || fail "lumora --version"
QT_QPA_PLATFORM=offscreen "$root/usr/bin/lumora" --help | grep -q -- --user-folder || fail "lumora --help"
pass "--version prints $version"

# The unpacked lumora-cli records what the unpacked simulator sends, on a port
# the system picks.
mkdir -p "$scratch/data"
(cd "$scratch" && exec "$cli" record --port 0 --dir data --seconds 20 >"$scratch/record.out" 2>"$scratch/record.err") &
pids="$pids $!"
if wait_for_file "$scratch/record.out" 10; then
  port=$(sed -n 's/^listening on UDP port \([0-9]*\)$/\1/p' "$scratch/record.out")
  "$cli" simulate --port "$port" --count 10 --rate 50 --cmd-port 0 --quiet || fail "lumora-cli simulate --count 10"
  kill -INT $pids 2>/dev/null || true
  wait 2>/dev/null || true
  received=$(sed -n 's/^stopped: \([0-9]*\) datagrams.*/\1/p' "$scratch/record.err")
  if [ "${received:-0}" -ge 10 ] && [ -s "$(ls "$scratch"/data/*.dat | head -n 1)" ]; then
    pass "lumora-cli simulate --count 10 into lumora-cli record: $received datagrams, $(ls "$scratch/data")"
  else
    fail "10 simulated frames not recorded: $(tail -n 2 "$scratch/record.err")"
  fi
else
  fail "lumora-cli record did not start: $(cat "$scratch/record.err")"
fi

# Started as the menu starts it: works in ~/Lumora, which it creates, with the
# installed scripts copied in.
home="$scratch/home"
mkdir -p "$home"
(cd / && HOME="$home" QT_QPA_PLATFORM=offscreen exec "$root/usr/bin/lumora" --user-folder >"$scratch/gui.log" 2>&1) &
gui=$!
pids="$pids $gui"
if wait_for_file "$home/Lumora/Lumora.ini" 20; then
  for s in daq.sh convert.sh 7z.sh; do
    cmp -s "$home/Lumora/$s" "$root/usr/share/lumora/scripts/$s" || fail "$s not copied into ~/Lumora"
  done
  pass "lumora --user-folder works in ~/Lumora: $(ls "$home/Lumora" | tr '\n' ' ')"
else
  fail "lumora --user-folder wrote no ~/Lumora/Lumora.ini: $(cat "$scratch/gui.log")"
fi
kill -TERM "$gui" 2>/dev/null || true
status=0
wait "$gui" || status=$?
[ "$status" -eq 0 ] || fail "lumora ended with $status on SIGTERM"

if desktop-file-validate "$root/usr/share/applications/lumora.desktop"; then
  pass "desktop-file-validate"
else
  fail "desktop-file-validate"
fi
if appstreamcli validate --no-net "$root/usr/share/metainfo/org.lumora.Lumora.metainfo.xml"; then
  pass "appstreamcli validate --no-net"
else
  fail "appstreamcli validate"
fi

for page in lumora lumora-cli; do
  if LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
    "$root/usr/share/man/man1/$page.1.gz" >/dev/null 2>"$scratch/man.err" && [ ! -s "$scratch/man.err" ]; then
    pass "man -l $page.1.gz renders without warnings"
  else
    fail "man -l $page.1.gz: $(cat "$scratch/man.err")"
  fi
done

# Errors fail the test; warnings are listed.
lintian_status=0
lintian --fail-on error --no-tag-display-limit "$deb" >"$scratch/lintian.out" 2>&1 || lintian_status=$?
cat "$scratch/lintian.out"
if [ "$lintian_status" -eq 0 ] && ! grep -q '^E:' "$scratch/lintian.out"; then
  pass "lintian: $(grep -c '^W:' "$scratch/lintian.out" || true) warnings, no error"
else
  fail "lintian reports errors (above)"
fi

if [ "$failures" -ne 0 ]; then
  echo "package tests: $failures failed" >&2
  exit 1
fi
echo "package tests: all passed"
