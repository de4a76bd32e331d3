#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the GUI need. Safe to run again.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" = 0 ] || SUDO="sudo"
packages=(
  build-essential cmake ninja-build pkg-config git ccache
  clang libclang-rt-14-dev
  libcurl4-openssl-dev libssl-dev openssl zlib1g-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev
  qt6-base-dev libgl-dev qt6-translations-l10n
  libkrb5-dev gss-ntlmssp krb5-kdc krb5-admin-server
  python3 ffmpeg
  dante-server microsocks
  nginx-light tinyproxy curl aria2 libbenchmark-dev
  xvfb xauth x11-apps imagemagick fonts-noto-cjk
  dpkg-dev file desktop-file-utils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
