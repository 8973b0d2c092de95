#!/usr/bin/env bash
# Tries the program without hardware: starts emulated processors, each a host of its own in
# a network namespace, joined by veth links to a bridge (10.77.0.1/24) in a lab namespace,
# and runs the application in that lab namespace, so that its broadcasts and network scans
# reach the emulators and nothing else. Everything is removed on exit. Run it as root
# (network namespaces need root; as another user put "sudo " in front):
#   tools/zunlab.sh                  three processors, then build/app/ZunControlV2
#   tools/zunlab.sh -- CMD ARGS...   run CMD in the lab namespace instead of the program
#   xvfb-run -a tools/zunlab.sh      the same without a display, on a virtual one
#   tools/zunlab.sh --help           this text
#
# It builds what it runs first, as tools/run-app.sh does: the emulator, and the program
# unless a command is given, with the packages the build needs installed when missing.
# ZUNLAB_BUILD names the build folder (default build/). Each emulator reads control lines
# (silent, nobroadcast, set WORD VALUE, ... see zunsim --help) from the FIFO printed at
# start, e.g.  echo silent > /tmp/zunlab.NNN/sim2.ctl
# Processors: 0x0101 "Lab 1" firmware 1080, 0x0102 "Lab 2" firmware 1077, and 0x0103
# "Lab old" firmware 1076 that ignores the broadcast (found by "Network scan" only).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZUNLAB_BUILD:-$root/build}
zunsim=$build/tools/zunsim/zunsim
app=$build/app/ZunControlV2

. "$root/tools/common/usage.sh"
case "${1:-}" in
    -h | --help)
        zun_usage
        exit 0
        ;;
    -- | "") ;;
    -*) zun_refuse "unknown option $1" ;;
esac

if [ "$(id -u)" != 0 ]; then
    echo "zunlab: network namespaces need root: run it as root (as this user: sudo $0 $*)" >&2
    exit 1
fi
targets=(zunsim)
if [ "${1:-}" = "--" ]; then
    shift
else
    targets+=(ZunControlV2)
fi
"$root/tools/install-deps.sh"
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
if [ ! -x "$zunsim" ]; then
    echo "zunlab: $zunsim was not built" >&2
    exit 1
fi
if [ $# -eq 0 ] && [ -x "$app" ]; then
    . "$root/tools/common/need-display.sh"
    zun_need_display "xvfb-run -a tools/zunlab.sh (as root)"
fi

lab=zunlab$$
tmp=$(mktemp -d /tmp/zunlab.XXXXXX)
namespaces=()
pids=()

cleanup() {
    set +e
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    for ns in "${namespaces[@]}"; do ip netns del "$ns" 2>/dev/null; done
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

ip netns add "$lab"
namespaces+=("$lab")
ip -n "$lab" link set lo up
ip -n "$lab" link add zbr0 type bridge
ip -n "$lab" link set zbr0 type bridge forward_delay 0
ip -n "$lab" addr add 10.77.0.1/24 dev zbr0
ip -n "$lab" link set zbr0 up

start_sim() { # n serial options...
    local n=$1 serial=$2
    shift 2
    local ns=${lab}_$n
    local mac
    mac=$(printf '5a:75:6e:00:%02x:%02x' $((serial >> 8)) $((serial & 255)))
    ip netns add "$ns"
    namespaces+=("$ns")
    ip -n "$lab" link add "zv$n" type veth peer name eth0 address "$mac" netns "$ns"
    ip -n "$lab" link set "zv$n" master zbr0 up
    ip -n "$ns" link set lo up
    ip -n "$ns" addr add "10.77.0.$((10 + n))/24" dev eth0
    ip -n "$ns" link set eth0 up
    local ctl=$tmp/sim$n.ctl
    mkfifo "$ctl"
    # Keeps the FIFO open, so that an "echo > ctl" does not end the emulator's input.
    sleep infinity > "$ctl" &
    pids+=($!)
    ip netns exec "$ns" "$zunsim" --serial "$serial" "$@" < "$ctl" > "$tmp/sim$n.log" 2>&1 &
    pids+=($!)
    echo "zunlab: processor $serial at 10.77.0.$((10 + n)), MAC $mac, control: $ctl"
}

start_sim 1 $((0x0101)) --name "Lab 1" --firmware 1080 --hardware 0xff94 --routing 0x1191
start_sim 2 $((0x0102)) --name "Lab 2" --firmware 1077 --hardware 0x0f04 --routing 0x1191
start_sim 3 $((0x0103)) --name "Lab old" --firmware 1076 --hardware 0x0f04 --no-broadcast-answer
sleep 0.5

if [ $# -gt 0 ]; then
    ip netns exec "$lab" "$@"
elif [ -x "$app" ]; then
    ip netns exec "$lab" "$app"
else
    echo "zunlab: $app is not built yet; the processors run in namespace $lab."
    echo "zunlab: press Enter to stop."
    read -r _
fi
