#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, when missing.
set -euo pipefail
pkgs=(build-essential cmake qtbase5-dev qtbase5-dev-tools libqt5svg5-dev libqwt-qt5-dev
      libquazip1-qt5-dev zlib1g-dev libboost-dev qt5-style-plugins iproute2 iputils-ping
      procps xvfb xauth fonts-dejavu-core fonts-urw-base35 imagemagick)
# The control window's alarm sound.
pkgs+=(qtmultimedia5-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
