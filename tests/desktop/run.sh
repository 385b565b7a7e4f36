#!/usr/bin/env bash
# Runs one desktop flow of desktop_test.py (wayland-*: of wayland_test.py).
# Where the system allows it, the flow runs in a network namespace of its own:
# only loopback is there, so nothing the program or the browser sends can
# leave the machine, and the program's fixed port 8080 is free whatever else
# runs here.
#   run.sh FLOW --program ... (the arguments of desktop_test.py)
set -u
here=$(dirname "$(readlink -f "$0")")
python=/usr/bin/python3  # the one with Debian's AT-SPI and D-Bus modules
export PYTHONDONTWRITEBYTECODE=1  # nothing written into the source tree
script=desktop_test.py
tools="Xvfb openbox trayer xdotool xprop import convert dbus-daemon nginx tinyproxy curl gsettings"
case "$1" in
    # It names what it misses itself.
    wayland-*) script=wayland_test.py tools= ;;
esac
for tool in $tools; do
    command -v "$tool" >/dev/null || {
        echo "SKIPPED: $tool is missing (scripts/setup.sh installs it)"
        exit 77
    }
done
"$python" -c 'import pyatspi, dbus' 2>/dev/null || {
    echo "SKIPPED: python3-dogtail (pyatspi) or python3-dbus is missing"
    exit 77
}
if unshare -n true 2>/dev/null && command -v ip >/dev/null; then
    # The namespace left behind, so that test helpers know this one is ours
    # (firewall rules for blackholed ports are made only in such a one).
    QUILLON_OUTER_NETNS=$(readlink /proc/self/ns/net)
    export QUILLON_OUTER_NETNS
    exec unshare -n sh -c 'ip link set lo up && exec "$0" "$@" --isolated' \
        "$python" "$here/$script" "$@"
fi
exec "$python" "$here/$script" "$@"
