#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, when missing.
#   tools/install-deps.sh [--fuzz | --tsan | --stress]   with what those scripts also need
#   tools/install-deps.sh --help                          this text
set -euo pipefail
. "$(dirname "$0")/common/usage.sh"
zun_help "$@"
case ${1:-} in "" | --fuzz | --tsan | --stress) ;; *) zun_refuse "unknown option $1" ;; esac
[ $# -le 1 ] || zun_refuse "unexpected argument $2"
pkgs=(build-essential cmake qtbase5-dev qtbase5-dev-tools libqt5svg5-dev libqwt-qt5-dev
      libquazip1-qt5-dev zlib1g-dev libboost-dev qt5-style-plugins iproute2 iputils-ping
      procps xvfb xauth fonts-dejavu-core fonts-urw-base35 imagemagick)
# The control window's alarm sound.
pkgs+=(qtmultimedia5-dev)
# --fuzz: also clang with its libFuzzer and sanitizer runtimes (the fuzz targets).
[ "${1:-}" = "--fuzz" ] && pkgs+=(clang libclang-rt-dev)
# --tsan: also Qt's private headers (tools/run-tsan.sh hooks into Qt's event delivery).
[ "${1:-}" = "--tsan" ] && pkgs+=(qtbase5-private-dev)
# --stress: also the CPU load generator of tools/stress-tests.sh.
[ "${1:-}" = "--stress" ] && pkgs+=(stress-ng)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      # Neither root nor sudo: say what is missing and how an administrator installs it.
      echo "install-deps: missing packages: ${missing[*]}" >&2
      echo "install-deps: install them with: su -c 'apt-get update && apt-get install -y --no-install-recommends ${missing[*]}'" >&2
      exit 1
    fi
    sudo="sudo"
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
