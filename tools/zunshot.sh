#!/usr/bin/env bash
# Screenshots for the documentation.
#   tools/zunshot.sh [OUT.png] [SECONDS]        the program as a new user first sees it
#   tools/zunshot.sh pages [OUTDIR] [PAGE...]   pages of the control window and its forms
#   tools/zunshot.sh --help                     this text
#
# The first form runs zunlab's emulated processors (as root), starts Xvfb and the program
# (with an empty home folder, so no stored settings) inside the lab's network namespace,
# waits SECONDS (default 12), and saves the screen in OUT.png (default /tmp/zunshot.png);
# the screen is ZUNSHOT_SCREEN (default 1366x768).
# "pages" shoots each PAGE of: system gain limiter advanced channel outputs wizard forms
# (default: every one; forms: the advanced tab's and the network monitor's forms), each
# against an emulated processor on loopback, under Xvfb with tools/zunpageshot (no lab, no
# root), at the size the program first opens its control window on a screen of each size in
# ZUNSHOT_SCREENS (default "1366x768 1920x1080"), into OUTDIR/<screen>/ (OUTDIR by default
# /tmp/zunshot-pages); see that tool for the files it writes.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZUNLAB_BUILD:-$root/build}
. "$root/tools/common/usage.sh"
zun_help "$@"
for a in "$@"; do
    case $a in -*) zun_refuse "unknown option $a" ;; esac
done

if [ "${1:-}" = pages ]; then
    outdir=${2:-/tmp/zunshot-pages}
    shift $(( $# < 2 ? $# : 2 ))
    for screen in ${ZUNSHOT_SCREENS:-1366x768 1920x1080}; do
        xvfb-run -a -s "-screen 0 ${screen}x24 -nolisten tcp" \
            "$build/tools/zunpageshot/zunpageshot" "$outdir/$screen" "$@"
    done
    exit 0
fi

[ $# -le 2 ] || zun_refuse "unexpected argument $3"
out=${1:-/tmp/zunshot.png}
wait=${2:-12}
case $wait in '' | *[!0-9]*) zun_refuse "SECONDS must be a whole number, not $wait" ;; esac
screen=${ZUNSHOT_SCREEN:-1366x768}

inner=$(mktemp /tmp/zunshot.XXXXXX.sh)
trap 'rm -f "$inner"' EXIT
cat > "$inner" <<INNER
#!/usr/bin/env bash
set -u
home=\$(mktemp -d /tmp/zunshot-home.XXXXXX)
export HOME=\$home
unset XDG_CONFIG_HOME XDG_DATA_HOME
# A display no other server holds (Xvfb picks it and names it on the descriptor), so that
# a server left running elsewhere is never drawn on; its errors are shown.
Xvfb -displayfd 3 -screen 0 ${screen}x24 -nolisten tcp 3> "\$home/display" &
xpid=\$!
for _ in \$(seq 50); do [ -s "\$home/display" ] && break; kill -0 \$xpid 2>/dev/null || break; sleep 0.1; done
if [ ! -s "\$home/display" ]; then
    echo "zunshot: Xvfb did not start (its errors are above)" >&2
    kill \$xpid 2>/dev/null
    rm -rf "\$home"
    exit 1
fi
export DISPLAY=:\$(cat "\$home/display")
cd "\$home"
"$build/app/ZunControlV2" > "\$home/app.log" 2>&1 &
apid=\$!
sleep $wait
import -window root "$out" || echo "zunshot: the screen could not be saved" >&2
kill \$apid
sleep 0.5
kill \$xpid
cat "\$home/app.log"
rm -rf "\$home"
INNER
chmod +x "$inner"
"$root/tools/zunlab.sh" -- "$inner"
echo "zunshot: $out"
