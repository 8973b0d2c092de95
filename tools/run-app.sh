#!/usr/bin/env bash
# Builds the application and starts it, on a display (without one: xvfb-run -a tools/run-app.sh).
#   tools/run-app.sh [OPTION...]   every argument goes to the program (its options: docs/app.md)
#   tools/run-app.sh --help        this text
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/tools/common/usage.sh"
zun_help "$@"
. "$here/tools/common/need-display.sh"
zun_need_display "xvfb-run -a tools/run-app.sh $*"
"$here/tools/install-deps.sh"
cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build" -j"$(nproc)" --target ZunControlV2
exec "$here/build/app/ZunControlV2" "$@"
