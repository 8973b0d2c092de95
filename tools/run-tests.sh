#!/usr/bin/env bash
# Builds everything and runs every test. With --with-sanitizers the tests run a second
# time from an AddressSanitizer/UndefinedBehaviorSanitizer build, and then every fuzz
# target of tests/fuzz runs for 10 seconds (tools/run-fuzz.sh, a clang build).
# Tests labelled "netns" create network namespaces and need root; they are skipped
# (with a notice) otherwise.
#   tools/run-tests.sh [--with-sanitizers]
#   tools/run-tests.sh --help      this text
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/tools/common/usage.sh"
zun_help "$@"
case ${1:-} in "" | --with-sanitizers) ;; *) zun_refuse "unknown option $1" ;; esac
[ $# -le 1 ] || zun_refuse "unexpected argument $2"
"$here/tools/install-deps.sh"
jobs=$(nproc)
labels=()
if [ "$(id -u)" -ne 0 ]; then
  echo "note: not root, skipping the tests labelled netns" >&2
  labels=(-LE netns)
fi
run() {
  local dir=$1; shift
  cmake -S "$here" -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs" "${labels[@]}")
}
run "$here/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ "${1:-}" = "--with-sanitizers" ]; then
  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
    run "$here/build-asan" -DCMAKE_BUILD_TYPE=Debug -DZUN_SANITIZE=ON
fi
if [ "${1:-}" = "--with-sanitizers" ]; then
  "$here/tools/run-fuzz.sh" 10
fi
