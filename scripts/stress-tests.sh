#!/usr/bin/env bash
# Looks for tests that fail by chance: builds the suite under ThreadSanitizer
# and under AddressSanitizer/UndefinedBehaviorSanitizer (build/stress-tsan,
# build/stress-asan) and runs each N times (default 20) while a busy loop keeps
# another core occupied, then lists every test that failed at least once.
#
#   scripts/stress-tests.sh [N [REGEX]]
#
# REGEX (ctest -R) limits the runs to the tests it matches; STRESS_SANITIZERS=tsan
# (or asan) runs one of the two builds only.
# A test stops repeating at its first failure; the full output of each run is
# kept in build/stress-<sanitizer>/stress.log. Exit status 1 when any test failed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

repeats=${1:-20}
case $repeats in
'' | *[!0-9]* | 0)
    echo "usage: scripts/stress-tests.sh [N [REGEX]]   (N: runs of each test, default 20)" >&2
    exit 2
    ;;
esac
only=()
[ -n "${2:-}" ] && only=(-R "$2")

hog_pid=
stop_hog() {
    if [ -n "$hog_pid" ]; then
        kill "$hog_pid" 2>/dev/null
        wait "$hog_pid" 2>/dev/null
        hog_pid=
    fi
}
trap stop_hog EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

export QT_QPA_PLATFORM=offscreen
# Qt's own libraries are not built for ThreadSanitizer; their reports are
# suppressed when the project carries a suppressions file.
if [ -f "$root/tests/tsan.supp" ]; then
    export TSAN_OPTIONS="suppressions=$root/tests/tsan.supp${TSAN_OPTIONS:+ $TSAN_OPTIONS}"
fi

mkdir -p build
failed_any=0
summary=
for sanitizer in ${STRESS_SANITIZERS:-tsan asan}; do
    dir=build/stress-$sanitizer
    flag=-DLUMORA_TSAN=ON
    [ "$sanitizer" = asan ] && flag=-DLUMORA_ASAN=ON
    echo "== $sanitizer: building in $dir"
    if ! cmake -S . -B "$dir" "$flag" -DLUMORA_BENCH=OFF >"$dir.configure.log" 2>&1 ||
        ! cmake --build "$dir" -j2; then
        echo "== $sanitizer: build failed (see $dir.configure.log and the output above)" >&2
        exit 1
    fi

    # The busy loop runs only while tests run, so that the build is not slowed.
    ( while :; do :; done ) &
    hog_pid=$!
    echo "== $sanitizer: running every test up to $repeats times, busy loop pid $hog_pid"
    (cd "$dir" && ctest --repeat "until-fail:$repeats" -j2 --timeout 600 --output-on-failure "${only[@]}") >"$dir/stress.log" 2>&1
    status=$?
    stop_hog

    # ctest ends with "The following tests FAILED:" and one line per test.
    failures=$(sed -n '/The following tests FAILED:/,$p' "$dir/stress.log" | grep -E '^[[:space:]]+[0-9]+ - ' || true)
    if [ $status -ne 0 ] || [ -n "$failures" ]; then
        failed_any=1
        [ -n "$failures" ] || failures="    (ctest exited with $status; see $dir/stress.log)"
        summary+="$sanitizer, failed at least once in $repeats runs:"$'\n'"$failures"$'\n'
    else
        summary+="$sanitizer: every test passed $repeats times"$'\n'
    fi
    tail -n 3 "$dir/stress.log"
done

echo
echo "== summary"
printf '%s' "$summary"
exit $failed_any
