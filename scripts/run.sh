#!/usr/bin/env bash
# Installs what is needed, builds the native program and runs it with a demo
# on this machine: vendor/ served on loopback with a proxy list that names a
# local tinyproxy, so the whole flow works offline (first-run list download,
# picking and testing a proxy, switching on, browsing through 127.0.0.1:8080).
# The vendor server answers the judge too, and three more local tinyproxies
# (transparent, anonymous, elite) give the list check something to grade.
# Everything the script starts is stopped by its pid when the program ends.
#   scripts/run.sh            the demo
#   scripts/run.sh --vendor   the program against the real vendor service
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/setup.sh
build=${QUILLON_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target quillon quillon-reg quillon-probe

if [ "${1:-}" = "--vendor" ]; then
    exec "$build/quillon"
fi

demo=$PWD/$build/demo
peers=$demo/peers
rm -rf "$demo"
mkdir -p "$demo/vendor" "$demo/config" "$demo/data"
cp -r vendor/. "$demo/vendor/"

quillon_pid=""
gnome_mode=""
finish() {
    [ -z "$quillon_pid" ] || kill "$quillon_pid" 2>/dev/null || true
    "$root/catalogue/testing/vendor_peers.sh" stop "$peers" || true
    # Only the program's Exit command points the browser back at a direct
    # connection; after an interrupted demo the desktop gets its mode back.
    if [ -n "$gnome_mode" ]; then
        gsettings set org.gnome.system.proxy mode "$gnome_mode" 2>/dev/null || true
    fi
}
trap finish EXIT
trap 'exit 130' INT TERM

# tinyproxies and nginx on free loopback ports; nginx serves the demo's copy
# of vendor/, whose list names the local tinyproxies first, and the judge.
"$root/catalogue/testing/vendor_peers.sh" start "$peers" "$demo/vendor"
tinyproxy_port=$(cat "$peers/tinyproxy.port")
vendor_port=$(cat "$peers/nginx.port")
list=$demo/vendor/licensing/ProxyGenerator/proxylist.txt
local_list=$demo/local-proxies.txt
for name in tinyproxy transparent anonymous elite; do
    printf '127.0.0.1:%s\r\n' "$(cat "$peers/$name.port")"
done >"$local_list"
cat "$local_list" vendor/licensing/ProxyGenerator/proxylist.txt >"$list.new"
mv "$list.new" "$list"

# A settings store of the demo's own, seeded as the installer would.
export XDG_CONFIG_HOME=$demo/config
export QUILLON_VENDOR_URL=http://127.0.0.1:$vendor_port
"$build/quillon-reg" add 'HKLM\Software\Quillon' /v AppPath /d "$demo/data/" /f >/dev/null
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    # No screen to pick a proxy on: start switched on through the local one.
    "$build/quillon-reg" add 'HKLM\Software\Quillon' /v ProxyName \
        /d "127.0.0.1:$tinyproxy_port" /f >/dev/null
    export GSETTINGS_BACKEND=keyfile
fi
if command -v gsettings >/dev/null; then
    gnome_mode=$(gsettings get org.gnome.system.proxy mode 2>/dev/null || true)
fi

cat <<TEXT
Demo on loopback:
  vendor server   $QUILLON_VENDOR_URL  (serves $demo/vendor)
  upstream proxy  127.0.0.1:$tinyproxy_port  (tinyproxy, first in the proxy list)
  Quillon         127.0.0.1:8080, settings in $XDG_CONFIG_HOME
Pick 127.0.0.1:$tinyproxy_port on the Settings page, tick "Enable Quillon", press
"Save Settings", then try:  curl -x 127.0.0.1:8080 $QUILLON_VENDOR_URL/licensing/ProxyGenerator/proxylist.txt
(without a display Quillon starts switched on and its messages appear here).
Grade the local proxies against the demo's judge:
  $(cd "$build" && pwd)/quillon-probe --judge $QUILLON_VENDOR_URL/licensing/ProxyGenerator/judge $local_list
End with "Exit Quillon" in the tray menu, or Ctrl+C.
TEXT

cd "$build"
./quillon &
quillon_pid=$!
wait "$quillon_pid" || true
quillon_pid=""
