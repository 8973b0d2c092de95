#!/usr/bin/env bash
# zunshot: a screenshot of the program as a new user first sees it. Runs zunlab's
# emulated processors, starts Xvfb and the program (with an empty home folder, so no
# stored settings) inside the lab's network namespace, waits, and saves the screen.
#
#   sudo tools/zunshot.sh [OUT.png] [SECONDS]     # default /tmp/zunshot.png after 12 s
#   tools/zunshot.sh --system [OUTDIR]            # the system tab, one and two boards
#
# --system shoots the system tab alone (tools/zunsystab) of an emulated single-board and
# double-board processor on loopback, each after switching to three full routings, into
# OUTDIR (default /tmp/zunshot-system): system-<board>-<routing>.png.
set -euo pipefail

if [ "${1:-}" = "--system" ]; then
    root=$(cd "$(dirname "$0")/.." && pwd)
    build=${ZUNLAB_BUILD:-$root/build}
    outdir=${2:-/tmp/zunshot-system}
    mkdir -p "$outdir"
    display=:78
    Xvfb $display -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    xpid=$!
    trap 'kill $xpid 2>/dev/null' EXIT
    sleep 1
    # board hardware serial, then name:routing pairs (empty routing: the processor's default)
    shots=(
        "one 0x0300 681 analog-2x1to4: ana-4x1to2:10000000000001100110001010000000 aes-4x1to2-alt:00100000000001100110010010000000"
        "two 0x0F80 258 ana-8x1to1:10000000000000000000011100000000 drc-4x1to2-alt:11000000000001100110010010000000 src-2x1to4:00110000000011111111000000100000"
    )
    for line in "${shots[@]}"; do
        read -r board hardware serial routings <<<"$line"
        for pair in $routings; do
            name=${pair%%:*}
            routing=${pair#*:}
            args=(--serial "$serial" --hardware "$hardware" --size 1240x370 --shot "$outdir/system-$board-$name.png")
            [ -n "$routing" ] && args+=(--routing "$routing")
            DISPLAY=$display "$build/tools/zunsystab/zunsystab" "${args[@]}" 2>&1 | grep "^zunsystab" || true
        done
    done
    exit 0
fi

root=$(cd "$(dirname "$0")/.." && pwd)

# tools/zunshot.sh gain [OUT-DIR]: the gain page of an emulated 4-output and 8-output
# processor with moving meters, two pictures a second apart each (no lab, no root).
if [ "${1:-}" = gain ]; then
  dir=${2:-/tmp}
  build=${ZUNLAB_BUILD:-$root/build}
  Xvfb :78 -screen 0 1600x900x24 -nolisten tcp >/dev/null 2>&1 &
  xpid=$!
  sleep 1
  DISPLAY=:78 "$build/tools/zungainshot/zungainshot" 0x1300 "$dir/gain-4out" || true
  DISPLAY=:78 "$build/tools/zungainshot/zungainshot" 0x0F80 "$dir/gain-8out" || true
  kill $xpid
  exit 0
fi
out=${1:-/tmp/zunshot.png}
wait=${2:-12}
build=${ZUNLAB_BUILD:-$root/build}

inner=$(mktemp /tmp/zunshot.XXXXXX.sh)
trap 'rm -f "$inner"' EXIT
cat > "$inner" <<INNER
#!/usr/bin/env bash
set -u
home=\$(mktemp -d /tmp/zunshot-home.XXXXXX)
export HOME=\$home
unset XDG_CONFIG_HOME XDG_DATA_HOME
Xvfb :77 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xpid=\$!
sleep 1
cd "\$home"
DISPLAY=:77 "$build/app/ZunControlV2" > "\$home/app.log" 2>&1 &
apid=\$!
sleep $wait
DISPLAY=:77 import -window root "$out"
kill \$apid
sleep 0.5
kill \$xpid
cat "\$home/app.log"
rm -rf "\$home"
INNER
chmod +x "$inner"
"$root/tools/zunlab.sh" -- "$inner"
echo "zunshot: $out"
