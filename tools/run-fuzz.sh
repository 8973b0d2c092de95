#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang's libFuzzer (and ASan/UBSan) and runs
# each for a fixed time, starting from seeds made by the program's own writers and the
# kept regression inputs. New inputs go to a scratch corpus, never into the sources.
#   tools/run-fuzz.sh [SECONDS per target, default 10]
#   tools/run-fuzz.sh --help      this text
# A crash leaves its input as crash-* in build-fuzz/findings/<target>/; add it to
# tests/fuzz/regressions/<target>/ once the fault is mended.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/tools/common/usage.sh"
zun_help "$@"
seconds=${1:-10}
case $seconds in -*) zun_refuse "unknown option $seconds";; ''|*[!0-9]*) zun_refuse "SECONDS must be a whole number, not $seconds";; esac
[ $# -le 1 ] || zun_refuse "unexpected argument $2"
"$here/tools/install-deps.sh" --fuzz
dir="$here/build-fuzz"
CC=clang CXX=clang++ cmake -S "$here" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZUN_FUZZ=ON >/dev/null
cmake --build "$dir" -j"$(nproc)" --target fuzz_all
rm -rf "$dir/seeds" "$dir/corpus" "$dir/findings"
"$dir/tests/fuzz/fuzz_seeds" "$dir/seeds" >/dev/null
failed=()
targets=(udp tcp image memdir fir csv setup configfolder backuprecord operationsrecord liveimage eqlist replies dispatch neighbours icmp ini)
# Leaks are findings too; only the platform's own objects are suppressed, each with its
# reason in the file.
export LSAN_OPTIONS="suppressions=$here/tests/fuzz/lsan.supp:print_suppressions=0"
for target in "${targets[@]}"; do
  mkdir -p "$dir/corpus/$target" "$dir/findings/$target"
  kept=()
  [ -d "$here/tests/fuzz/regressions/$target" ] && kept=("$here/tests/fuzz/regressions/$target")
  echo "fuzz $target: ${seconds}s"
  # The records' one suppressed leak (Qt's JSON parser, see lsan.supp) is told by a frame
  # that unwinding through Qt, built without frame pointers, reaches only the slow way.
  unwind=""
  case $target in backuprecord|operationsrecord) unwind=":fast_unwind_on_malloc=0";; esac
  if ! (cd "$dir/findings/$target" &&
        ASAN_OPTIONS=detect_leaks=1$unwind UBSAN_OPTIONS=print_stacktrace=1 QT_QPA_PLATFORM=offscreen \
        "$dir/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
          "$dir/corpus/$target" "$dir/seeds/$target" "${kept[@]}" >"$dir/findings/$target/log" 2>&1); then
    tail -40 "$dir/findings/$target/log" >&2
    failed+=("$target")
  else
    grep -E "^Done [0-9]+ runs" "$dir/findings/$target/log" | sed 's/^/  /' || true
  fi
done
if ((${#failed[@]})); then
  echo "fuzz: findings in ${failed[*]} (inputs in $dir/findings)" >&2
fi
echo "fuzz: $((${#targets[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
((${#failed[@]} == 0))
