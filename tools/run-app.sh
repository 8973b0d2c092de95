#!/usr/bin/env bash
# Builds the application and starts it. Extra arguments go to the program.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/tools/common/need-display.sh"
zun_need_display "xvfb-run -a tools/run-app.sh $*"
"$here/tools/install-deps.sh"
cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build" -j"$(nproc)" --target ZunControlV2
exec "$here/build/app/ZunControlV2" "$@"
