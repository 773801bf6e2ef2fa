#!/usr/bin/env bash
# Installs the Debian packages the box needs to build, run and test, when any is missing.
set -euo pipefail
packages=(
    build-essential cmake pkg-config ccache
    qtbase5-dev qtbase5-dev-tools libqt5sql5-sqlite libqt5charts5-dev libqt5serialport5-dev libqt5xml5
    libopencv-dev
    libavformat-dev libavcodec-dev libavdevice-dev libavfilter-dev libavutil-dev libswscale-dev
    fonts-wqy-microhei libbenchmark-dev
    clang libclang-rt-14-dev xvfb xauth libxcb1-dev libxtst6
    iproute2 util-linux iputils-ping
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
