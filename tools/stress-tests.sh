#!/usr/bin/env bash
# Runs the whole test suite N times while every core is busy (stress-ng --cpu $(nproc)),
# to find the tests that fail at random under load. Every failure is reported with the
# test's own output; the logs of each round stay in BUILD/stress/.
#   tools/stress-tests.sh [-n ROUNDS, default 20] [-j JOBS, default nproc] [-R REGEX] [-f] [BUILD]
#   tools/stress-tests.sh --help      this text
# With -f, each round runs every test function of each test program (those -R picks) by
# itself, as `build/tests/TEST FUNCTION` runs it: a function that passes only after an
# earlier one left something behind fails there. Rounds default to 1 then; the programs
# that need root (*_netns) run one function at a time, the others JOBS at once.
# BUILD defaults to build/ (configured and built when missing). Exits non-zero when any
# test failed in any round.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
rounds=20
jobs=$(nproc)
regex=()
each=0
. "$here/tools/common/usage.sh"
zun_help "$@"
# Only short options: getopts would read "--jobs" as the options "-", "j", "o"...
for a in "$@"; do
  case $a in --?*) zun_refuse "unknown option $a" ;; esac
done
rounds_given=0
while getopts ":n:j:R:f" opt; do
  case $opt in
    n) rounds=$OPTARG; rounds_given=1 ;;
    f) each=1 ;;
    j) jobs=$OPTARG ;;
    R) regex=(-R "$OPTARG") ;;
    :) zun_refuse "-$OPTARG needs a value" ;;
    *) zun_refuse "unknown option -$OPTARG" ;;
  esac
done
shift $((OPTIND - 1))
if ((each && !rounds_given)); then rounds=1; fi
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

# -f: one line a function, "TEST FUNCTION", of the programs ctest lists (the fuzz replays,
# which have no functions, are left to the whole-suite rounds).
functions() {
  (cd "$dir" && ctest -N "${labels[@]}" "${regex[@]}") | sed -n 's/^ *Test *#[0-9]*: //p' | while read -r name; do
    [ -x "$dir/tests/$name" ] || continue
    "$dir/tests/$name" -functions 2>/dev/null | sed -n "s/^\(.*\)()\$/$name \1/p"
  done
}
# Runs "TEST FUNCTION" by itself from the tests' folder, as ctest would, and prints
# "ok TEST FUNCTION" or "FAIL TEST FUNCTION"; the output goes to the round's folder.
run_one() {
  local out="$1/$2.$3.log"
  if (cd "$dir/tests" && QT_QPA_PLATFORM=offscreen timeout 300 "./$2" "$3") >"$out" 2>&1; then
    echo "ok $2 $3"
  else
    echo "FAIL $2 $3"
  fi
}
export -f run_one
export dir
if ((each)); then
  total=0
  ran=0
  for ((i = 1; i <= rounds; i++)); do
    out="$logs/round$i"
    mkdir -p "$out"
    list=$(functions)
    results="$out/results.txt"
    { grep -v '_netns ' <<<"$list" || true; } | xargs -r -P "$jobs" -L 1 bash -c 'run_one "$0" "$1" "$2"' "$out" >"$results"
    { grep '_netns ' <<<"$list" || true; } | xargs -r -L 1 bash -c 'run_one "$0" "$1" "$2"' "$out" >>"$results"
    failed=$(grep -c '^FAIL' "$results" || true)
    echo "round $i/$rounds: $(wc -l <"$results") functions run by themselves, $failed failed"
    ran=$((ran + $(wc -l <"$results")))
    total=$((total + failed))
    while read -r _ name fn; do
      echo "=== round $i: $name $fn"
      cat "$out/$name.$fn.log"
    done < <(grep '^FAIL' "$results")
  done
  trap - EXIT
  kill "$load" 2>/dev/null || true
  wait "$load" 2>/dev/null || true
  echo
  echo "stress: $ran function run(s) by themselves, $total failure(s) in $rounds round(s) under load"
  ((total == 0))
  exit
fi

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
