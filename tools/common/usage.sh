# Sourced by the scripts of tools/: a script's usage is the comment at its top, from its
# second line to its "set -euo pipefail". Asked for, it is printed before the script
# installs, builds or starts anything.
zun_usage() {
    sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"
}
# zun_help "$@": -h or --help among the arguments (before a "--"): the usage, and exit 0.
zun_help() {
    local a
    for a in "$@"; do
        case $a in
            --) return 0 ;;
            -h | --help) zun_usage; exit 0 ;;
        esac
    done
}
# zun_refuse "what is wrong": it and the usage on stderr, and exit 2.
zun_refuse() {
    echo "$(basename "$0"): $1" >&2
    zun_usage >&2
    exit 2
}
