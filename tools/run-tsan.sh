#!/usr/bin/env bash
# Builds the program with ThreadSanitizer (build-tsan, -DZUN_TSAN=ON) and runs the
# device and control-window tests in it: the places where the GUI thread, the link and
# the managers' worker threads share data. A race makes its test fail (halt_on_error is
# off, the exit code is TSan's). Qt itself is not instrumented: tools/tsan/qtsync.cpp,
# preloaded into every test of this build, tells the tool about Qt's locks and queued calls, and the
# reports that come only from Qt's internals are suppressed in
# tools/tsan/suppressions.txt, each with why. Installs what it needs when missing (Qt's
# private headers: tools/install-deps.sh --tsan).
#   tools/run-tsan.sh [ctest -R regex, default: the device and window tests]
#   tools/run-tsan.sh --help      this text
# The full reports are in build-tsan/tsan-logs/.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/tools/common/usage.sh"
zun_help "$@"
case ${1:-} in -*) zun_refuse "unknown option $1" ;; esac
[ $# -le 1 ] || zun_refuse "unexpected argument $2"
pattern=${1:-'^(device|window)_'}
"$here/tools/install-deps.sh" --tsan
dir="$here/build-tsan"
jobs=$(nproc)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$here" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZUN_TSAN=ON "${launcher[@]}" >/dev/null
# Only what the chosen tests need: their executables and the emulator they talk to.
mapfile -t targets < <(cd "$dir" && ctest -N -R "$pattern" | sed -n 's/^ *Test *#[0-9]*: *//p')
[ "${#targets[@]}" -gt 0 ] || { echo "run-tsan: no test matches $pattern" >&2; exit 2; }
# One target at a time: parallel top-level targets of the Makefile generator would build
# their shared libraries twice at once.
for target in zuntsanqt zuntsanselfcheck zunsim "${targets[@]}"; do
  cmake --build "$dir" -j"$jobs" --target "$target"
done
logs="$dir/tsan-logs"
rm -rf "$logs" && mkdir -p "$logs"
tsan_options="ignore_noninstrumented_modules=1 suppressions=$here/tools/tsan/suppressions.txt second_deadlock_stack=1 history_size=4"
# First the hooks themselves: one planted race must be reported, and nothing else.
LD_PRELOAD="$dir/tools/tsan/libzuntsanqt.so" TSAN_OPTIONS="$tsan_options log_path=$logs/selfcheck" \
  "$dir/tools/tsan/zuntsanselfcheck" >/dev/null || true
planted=$(cat "$logs"/selfcheck.* 2>/dev/null | grep -c '^WARNING: ThreadSanitizer' || true)
if [ "$planted" -ne 1 ] || ! grep -q lateWrite "$logs"/selfcheck.*; then
  echo "run-tsan: the self-check expected one report of its planted race, got $planted (see $logs)" >&2
  exit 3
fi
rm -f "$logs"/selfcheck.*
labels=()
[ "$(id -u)" -eq 0 ] || labels=(-LE netns)
status=0
(cd "$dir" &&
  TSAN_OPTIONS="$tsan_options log_path=$logs/tsan exitcode=66" \
  QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs" -R "$pattern" "${labels[@]}") || status=$?
reports=$(cat "$logs"/tsan.* 2>/dev/null | grep -c '^WARNING: ThreadSanitizer' || true)
echo "run-tsan: $reports report(s); logs in $logs"
[ "$status" -eq 0 ] && [ "$reports" -eq 0 ]
