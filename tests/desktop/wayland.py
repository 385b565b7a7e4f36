"""A Wayland desktop for the program: sway on its headless backend, run as an
unprivileged user (it refuses root), a session bus with the accessibility
bus and, as asked, a StatusNotifierItem host; Qt's own Wayland platform.

The compositor is read and driven through its IPC (swaymsg) and a virtual
keyboard (wtype); screenshots come from grim. What the program asks of the
compositor is read from its protocol trace (WAYLAND_DEBUG=1). Tokens for
xdg-activation are asked for on the wire, as a launcher does.
"""

import glob
import json
import os
import re
import shutil
import socket
import struct
import sys

from desktop import Desktop, Failure, run, wait_until

NOBODY = 65534

SWAY_CONFIG = """output HEADLESS-1 resolution 1024x768
xwayland disable
# An activated window gets the focus (sway's default only marks it urgent),
# so that the tree shows whether the compositor took the request.
focus_on_window_activation focus
"""


class WaylandDesktop:
    """The compositor, the buses and the notification area ("sni" or
    "none")."""

    def __init__(self, processes, folder, tray):
        self.workspaces = 1  # sway starts on workspace 1
        home = os.path.join(folder, "sway")
        runtime = os.path.join(home, "runtime")
        os.makedirs(runtime, mode=0o700)
        config = os.path.join(home, "config")
        with open(config, "w") as f:
            f.write(SWAY_CONFIG)
        argv = ["sway", "-c", config]
        if os.geteuid() == 0:
            os.chmod(folder, 0o711)  # the compositor's user passes through
            for path in (home, runtime, config):
                os.chown(path, NOBODY, NOBODY)
            argv = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups", *argv]
        compositor_env = {"PATH": "/usr/bin:/bin", "HOME": home, "XDG_RUNTIME_DIR": runtime,
                          "WLR_BACKENDS": "headless", "WLR_LIBINPUT_NO_DEVICES": "1",
                          "WLR_RENDERER": "pixman"}
        sway = processes.start("sway", argv, env=compositor_env)

        def sockets():
            names = os.listdir(runtime)
            display = [n for n in names if re.fullmatch(r"wayland-\d+", n)]
            ipc = [n for n in names if n.startswith("sway-ipc.") and n.endswith(".sock")]
            return (display[0], ipc[0]) if display and ipc else None
        display, ipc = wait_until("the compositor's sockets",
                                  lambda: sway.poll() is None and sockets(), 15)
        self.env = {k: v for k, v in os.environ.items() if k not in (
            "DISPLAY", "http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
            "no_proxy", "QT_QPA_PLATFORM", "SESSION_MANAGER", "XDG_ACTIVATION_TOKEN",
            "DESKTOP_STARTUP_ID")}
        # What a Wayland session gives its programs; Qt picks its platform
        # from it, as it does for users.
        self.env.update({"WAYLAND_DISPLAY": os.path.join(runtime, display),
                         "XDG_SESSION_TYPE": "wayland",
                         "SWAYSOCK": os.path.join(runtime, ipc)})
        wait_until("the compositor's output", lambda: self.swaymsg("-t", "get_outputs"))
        # A keyboard for the whole session, as a desktop has: one that comes
        # with each key press is announced to the program only after the
        # press has gone by.
        processes.start("keyboard", ["wtype", "-s", str(24 * 3600 * 1000)], env=self.env)
        wait_until("the keyboard", lambda: any(
            device["type"] == "keyboard" for device in self.swaymsg("-t", "get_inputs")))

        address = os.path.join(folder, "session-bus")
        processes.start("dbus", ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                 f"--address=unix:path={address}"], env=self.env)
        wait_until("the session bus", lambda: _answers(address))
        self.env["DBUS_SESSION_BUS_ADDRESS"] = f"unix:path={address}"
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = self.env["DBUS_SESSION_BUS_ADDRESS"]
        processes.start("atspi", ["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                        env=self.env)
        if tray == "sni":
            here = os.path.dirname(os.path.abspath(__file__))
            self.watcher_log = os.path.join(folder, "watcher-items")
            processes.start("watcher", [sys.executable, os.path.join(here, "sni_watcher.py"),
                                        self.watcher_log], env=self.env)
            wait_until("the StatusNotifierWatcher", lambda: os.path.exists(self.watcher_log)
                       and "org.kde.StatusNotifierWatcher" in self.bus_names())

    def bus_names(self):
        return run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                    "/org/freedesktop/DBus", "org.freedesktop.DBus.ListNames"],
                   env=self.env).stdout

    def swaymsg(self, *args):
        done = run(["swaymsg", "-r", *args], env=self.env)
        if done.returncode != 0:
            raise Failure(f"swaymsg {' '.join(args)}: {done.stdout}{done.stderr}".strip())
        return json.loads(done.stdout)

    def windows(self, app_id="quillon"):
        """The compositor's windows of that app: id, title, rect, focused,
        visible."""
        found = []

        def walk(node):
            if node.get("type") in ("con", "floating_con") and node.get("app_id") == app_id:
                found.append(node)
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                walk(child)
        walk(self.swaymsg("-t", "get_tree"))
        return found

    def window(self, title="Quillon"):
        return next((w for w in self.windows() if w.get("name") == title), None)

    def in_front(self, title="Quillon"):
        """The window mapped, on the workspace shown and with the focus."""
        w = self.window(title)
        return w is not None and w["visible"] and w["focused"]

    def away(self):
        """A new workspace, empty: what had the focus is out of sight."""
        self.workspaces += 1
        self.swaymsg("workspace", str(self.workspaces))

    def key(self, name):
        run(["wtype", "-k", name], env=self.env, check=True)

    def close(self, title="Quillon"):
        """What a close button on the frame does: the compositor asks the
        window to close (xdg_toplevel.close)."""
        w = self.window(title)
        if w is None:
            raise Failure(f"no window {title!r}")
        self.swaymsg(f"[con_id={w['id']}]", "kill")

    def screenshot(self, path, window=None, crop=None):
        area = crop or (window and (window["rect"]["x"], window["rect"]["y"],
                                    window["rect"]["width"], window["rect"]["height"]))
        geometry = ["-g", "{},{} {}x{}".format(*area)] if area else []
        run(["grim", *geometry, path], env=self.env, check=True)
        return path

    drawn = staticmethod(Desktop.drawn)

    def activation_token(self):
        return activation_token(self.env["WAYLAND_DISPLAY"])


def _answers(address):
    with socket.socket(socket.AF_UNIX) as s:
        return s.connect_ex(address) == 0


# ------------------------------------------------ a launcher's token, on the wire

def _message(target, opcode, payload=b""):
    return struct.pack("<II", target, (8 + len(payload)) << 16 | opcode) + payload


def _string(text):
    data = text.encode() + b"\0"
    return struct.pack("<I", len(data)) + data + b"\0" * (-len(data) % 4)


def _read_string(payload, at=0):
    size = struct.unpack_from("<I", payload, at)[0]
    return payload[at + 4:at + 3 + size].decode()


def activation_token(display, timeout=10):
    """A token from the compositor's xdg_activation_v1, asked for as a
    launcher asks before it starts a program (with no input event of its
    own: wlroots hands such tokens out)."""
    registry, sync, activation, token = 2, 3, 4, 5
    with socket.socket(socket.AF_UNIX) as s:
        s.settimeout(timeout)
        s.connect(display)
        s.sendall(_message(1, 1, struct.pack("<I", registry))
                  + _message(1, 0, struct.pack("<I", sync)))
        pending = b""
        name = None
        while True:
            while len(pending) < 8 or len(pending) < struct.unpack_from("<I", pending, 4)[0] >> 16:
                chunk = s.recv(65536)
                if not chunk:
                    raise Failure("the compositor closed the connection")
                pending += chunk
            target, word = struct.unpack_from("<II", pending)
            size, opcode = word >> 16, word & 0xFFFF
            payload, pending = pending[8:size], pending[size:]
            if target == 1 and opcode == 0:
                raise Failure(f"the compositor reports an error: {payload!r}")
            if target == registry and opcode == 0 and \
                    _read_string(payload, 4) == "xdg_activation_v1":
                name = struct.unpack_from("<I", payload)[0]
            elif target == sync:
                if name is None:
                    raise Failure("the compositor offers no xdg_activation_v1")
                s.sendall(_message(registry, 0, struct.pack("<I", name)
                                   + _string("xdg_activation_v1")
                                   + struct.pack("<II", 1, activation))
                          + _message(activation, 1, struct.pack("<I", token))
                          + _message(token, 3))
            elif target == token and opcode == 0:
                return _read_string(payload)


# ------------------------------------------------ the program's protocol trace

# "[  12345.678]  -> xdg_toplevel@23.set_minimized()": the time is padded.
REQUEST = re.compile(r"^\[\s*[\d.]+\]\s+-> (\w+)@(\d+)\.(\w+)\((.*)\)$")


class ProtocolTrace:
    """What the program asked of the compositor, from its WAYLAND_DEBUG
    output."""

    def __init__(self, path):
        self.path = path

    def requests(self):
        with open(self.path, "rb") as f:
            for line in f:
                found = REQUEST.match(line.decode(errors="replace").strip())
                if found:
                    yield found.groups()

    def activations(self):
        """The tokens of the xdg_activation_v1.activate requests made for a
        surface already mapped (one with a buffer committed): a compositor
        drops a request for a window it does not show yet, token and all."""
        drawn, pending, tokens = set(), set(), []
        for interface, number, request, args in self.requests():
            if interface == "wl_surface" and request == "attach":
                (pending.add if "wl_buffer@" in args else pending.discard)(number)
            elif interface == "wl_surface" and request == "commit" and number in pending:
                drawn.add(number)
            elif interface == "wl_surface" and request == "destroy":
                drawn.discard(number)
                pending.discard(number)
            elif interface == "xdg_activation_v1" and request == "activate":
                token, surface = re.match(r'"([^"]*)", wl_surface@(\d+)', args).groups()
                if surface in drawn:
                    tokens.append(token)
        return tokens

    def minimised_toplevels(self):
        """Toplevels that were minimised and still exist: on a desktop that
        honours it (GNOME) such a window stays out of sight, since nothing
        in the protocol brings it back."""
        live = {}
        for interface, number, request, args in self.requests():
            if interface == "xdg_surface" and request == "get_toplevel":
                live[re.search(r"xdg_toplevel@(\d+)", args).group(1)] = False
            elif interface == "xdg_toplevel" and request == "set_minimized":
                live[number] = True
            elif interface == "xdg_toplevel" and request == "destroy":
                live.pop(number, None)
        return [number for number, minimised in live.items() if minimised]


def missing_tools():
    """What this desktop needs that is not installed, named by package."""
    needs = {"sway": "sway", "swaymsg": "sway", "grim": "grim", "wtype": "wtype",
             "setpriv": "util-linux", "convert": "imagemagick", "dbus-daemon": "dbus",
             "nginx": "nginx-light", "tinyproxy": "tinyproxy", "cpack": "cmake"}
    missing = sorted({package for tool, package in needs.items() if not shutil.which(tool)})
    if not glob.glob("/usr/lib/*/qt6/plugins/platforms/libqwayland-*"):
        missing.append("qt6-wayland")
    return missing
