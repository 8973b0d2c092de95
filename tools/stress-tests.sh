#!/usr/bin/env bash
# Runs the whole test suite N times while every core is busy (stress-ng --cpu $(nproc)),
# to find the tests that fail at random under load. Every failure is reported with the
# test's own output; the logs of each round stay in BUILD/stress/.
#   tools/stress-tests.sh [-n ROUNDS, default 20] [-j JOBS, default nproc] [-R REGEX] [BUILD]
#   tools/stress-tests.sh --help      this text
# BUILD defaults to build/ (configured and built when missing). Exits non-zero when any
# test failed in any round.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
rounds=20
jobs=$(nproc)
regex=()
. "$here/tools/common/usage.sh"
zun_help "$@"
# Only short options: getopts would read "--jobs" as the options "-", "j", "o"...
for a in "$@"; do
  case $a in --?*) zun_refuse "unknown option $a" ;; esac
done
while getopts ":n:j:R:" opt; do
  case $opt in
    n) rounds=$OPTARG ;;
    j) jobs=$OPTARG ;;
    R) regex=(-R "$OPTARG") ;;
    :) zun_refuse "-$OPTARG needs a value" ;;
    *) zun_refuse "unknown option -$OPTARG" ;;
  esac
done
shift $((OPTIND - 1))
case $rounds$jobs in ''|*[!0-9]*) zun_refuse "ROUNDS and JOBS are whole numbers" ;; esac
[ $# -le 1 ] || zun_refuse "unexpected argument $2"
dir=$(realpath -m "${1:-$here/build}")
"$here/tools/install-deps.sh" --stress
if [ ! -f "$dir/CTestTestfile.cmake" ]; then
  cmake -S "$here" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$dir" -j"$(nproc)"
labels=()
if [ "$(id -u)" -ne 0 ]; then
  echo "note: not root, skipping the tests labelled netns" >&2
  labels=(-LE netns)
fi
logs="$dir/stress"
rm -rf "$logs"
mkdir -p "$logs"

stress-ng --cpu "$(nproc)" --quiet >/dev/null 2>&1 &
load=$!
trap 'kill "$load" 2>/dev/null || true; wait "$load" 2>/dev/null || true' EXIT

for ((i = 1; i <= rounds; i++)); do
  log="$logs/round$i.log"
  (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs" "${labels[@]}" "${regex[@]}") >"$log" 2>&1 || true
  failed=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*(\*\*\*|Not Run|Timeout)' "$log" || true)
  echo "round $i/$rounds: $(grep -E 'tests passed' "$log" || echo 'no summary'), $failed failed"
done
trap - EXIT
kill "$load" 2>/dev/null || true
wait "$load" 2>/dev/null || true

# Each failure with what the test printed: ctest puts a failed test's output right after
# its result line, up to the next result line.
total=0
for ((i = 1; i <= rounds; i++)); do
  log="$logs/round$i.log"
  while IFS= read -r name; do
    total=$((total + 1))
    echo "=== round $i: $name"
    awk -v name="$name" '
      /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / { on = ($4 == name) }
      /^[0-9]+% tests passed/ { on = 0 }
      on' "$log"
  done < <(grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*(\*\*\*|Not Run|Timeout)' "$log" | awk '{print $4}')
done
echo
echo "stress: $total failure(s) in $rounds round(s) under load"
if ((total)); then
  grep -hE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*(\*\*\*|Not Run|Timeout)' "$logs"/round*.log | awk '{print $4}' | sort | uniq -c | sort -rn
fi
((total == 0))
