#!/usr/bin/env bash
# Installs every Debian 12 package that the build, the tests and the
# benchmarks need. Idempotent: when everything is present it only checks.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config libcurl4-openssl-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev libsqlite3-dev zlib1g-dev libz-mingw-w64-dev
  g++-mingw-w64-x86-64-posix mingw-w64-tools wine64
  tinyproxy nginx-light libnginx-mod-stream libnginx-mod-http-echo privoxy wrk procps curl
  libglib2.0-dev libglib2.0-bin gsettings-desktop-schemas glib-networking
  libproxy1-plugin-gsettings libproxy1-plugin-kconfig dbus dconf-gsettings-backend dconf-cli
  chromium util-linux iproute2 nftables
  nlohmann-json3-dev sqlite3 firefox-esr bleachbit python3 bc strace
  qt6-base-dev xvfb
  openbox trayer xdotool imagemagick x11-utils dbus-x11 at-spi2-core python3-dogtail python3-dbus python3-gi
  sway qt6-wayland grim wtype
  clang libclang-rt-14-dev
  lintian appstream
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  # Package scripts must not start the peers as system services: the tests
  # and benchmarks start their own copies on free loopback ports.
  policy_added=0
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee /usr/sbin/policy-rc.d >/dev/null
    $sudo chmod +x /usr/sbin/policy-rc.d
    policy_added=1
  fi
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
  [ $policy_added -eq 0 ] || $sudo rm -f /usr/sbin/policy-rc.d
fi
