"""The real program on a Wayland desktop (sway, headless), with Qt's own
Wayland platform, driven through the compositor and read through AT-SPI and
the program's protocol trace.

    wayland_test.py FLOW --program build/quillon --reg build/quillon-reg
                    --vendor vendor --out FOLDER --build build

FLOW is one of
  wayland-no-tray  no notification area (stock GNOME): a second start with
                   its launcher's token brings the window forward; Escape
                   and the close button leave it where a second start
                   brings it back; the session's end (SIGTERM) ends it
  wayland-sni      a StatusNotifierItem host: the same second starts, the
                   window hidden behind the icon and brought back, the
                   panel's Configuration with the panel's token, and the
                   exported menu's Exit

Keys go through the compositor's virtual keyboard (wtype); the close button
is the compositor's close request (sway draws no button of its own, and
GNOME's is Qt's, which closes the same way). A desktop that minimises a
window also takes the focus from it: the flows move to an empty workspace
for that, so that a window left minimised shows up as one out of sight.
"""

import argparse
import contextlib
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

import dbus

import desktop as d
import wayland as w
from desktop import expect, wait_until
from desktop_test import unpack_package

ui = None  # the AT-SPI helpers, once the session bus is up


class Run:
    def __init__(self, args, folder, processes, desktop, peers):
        self.args = args
        self.folder = folder
        self.desktop = desktop
        self.peers = peers
        self.program = d.Program(processes, desktop, folder, os.path.abspath(args.program),
                                 os.path.abspath(args.reg), peers.vendor_url)
        log = os.path.join(folder, "quillon.log")
        self.trace = w.ProtocolTrace(log)
        self.steps = d.Steps(desktop, args.out, log)
        peers.set_list([peers.proxy])

    def start(self):
        self.program.env["WAYLAND_DEBUG"] = "1"  # the trace, on standard error
        self.program.start()
        wait_until("the program on the accessibility bus", ui.app, 20)

    def second_start(self, token):
        """Another copy, started as a launcher starts it: with a token."""
        env = dict(self.program.env, XDG_ACTIVATION_TOKEN=token)
        env.pop("WAYLAND_DEBUG")
        done = subprocess.run([self.program.exe], env=env, cwd=self.program.home, timeout=15,
                              capture_output=True)
        expect(done.returncode == 0, f"the second copy ended with status {done.returncode}")

    def in_front_again(self, what):
        """A second start with a fresh token: the running copy activates its
        window with that token, and the compositor shows and focuses it."""
        token = self.desktop.activation_token()
        self.second_start(token)
        wait_until(f"{what}: an activation with the launcher's token",
                   lambda: token in self.trace.activations())
        wait_until(f"{what}: the window in front", self.desktop.in_front)
        expect(not self.trace.minimised_toplevels(), f"{what}: the window is left minimised")
        expect(ui.showing(ui.main_window()), f"{what}: AT-SPI does not show the window")

    def away(self):
        """The user turns to something else: the window is not in front."""
        self.desktop.away()
        wait_until("the window out of sight", lambda: not self.desktop.in_front())

    def out_of_the_way(self, what):
        """Minimised (which takes the focus away on a desktop that honours
        it) or hidden."""
        wait_until(f"{what}: the window minimised or hidden",
                   lambda: self.trace.minimised_toplevels() or self.desktop.window() is None)
        self.away()


def first_start(r):
    s = r.steps
    with s.step("first start: the window drawn by Qt's Wayland platform, its controls on AT-SPI"):
        r.start()
        wait_until("the window in front", r.desktop.in_front, 20)
        for role, name in (("page tab", "Settings"), ("page tab", "Privacy"),
                           ("check box", "Enable Quillon"), ("push button", "Save Settings"),
                           ("push button", "Add New Proxy"), ("combo box", None)):
            ui.find(role, name, root=ui.main_window())
        picture = os.path.join(r.args.out, "wayland-first-start.png")
        wait_until("the window drawn", lambda: r.desktop.drawn(
            r.desktop.screenshot(picture, r.desktop.window())) > 0.04)
    with s.step("the package brings in the platform the program runs on here"):
        with open(f"/proc/{r.program.process.pid}/maps") as f:
            plugins = {line.split()[-1] for line in f if "/qt6/plugins/platforms/" in line}
        expect(len(plugins) == 1 and "wayland" in next(iter(plugins)),
               f"the program's platform plugins: {plugins}")
        owner = d.run(["dpkg-query", "-S", plugins.pop()], check=True).stdout.split(":")[0]
        unpack_package(r.args.build, r.folder)
        deb = glob.glob(os.path.join(r.folder, "package", "*.deb"))[0]
        fields = d.run(["dpkg-deb", "-f", deb, "Depends", "Recommends"], check=True).stdout
        named = {alternative.split("(")[0].strip() for line in fields.splitlines()
                 for alternative in line.split(":", 1)[1].replace("|", ",").split(",")}
        expect(owner in named, f"{owner} is neither depended on nor recommended: {fields!r}")


def has_keyboard():
    """The main window is the active one: keys go to it."""
    window = ui.main_window()
    return window is not None and window.getState().contains(ui.pyatspi.STATE_ACTIVE)


def flow_no_tray(r):
    s = r.steps
    first_start(r)
    with s.step("a second start carrying its launcher's token brings the window forward"):
        r.away()
        r.in_front_again("a second start")
    for how, close in (("Escape", lambda: r.desktop.key("Escape")),
                       ("the close button", r.desktop.close)):
        with s.step(f"{how} leaves the window where a second start brings it back"):
            wait_until("the window active", has_keyboard)
            close()
            r.out_of_the_way(how)
            expect(r.program.alive(), f"{how} ended the program")
            r.in_front_again(f"after {how}")
    with s.step("the session's end (SIGTERM) ends the program with status 0"):
        r.program.process.terminate()
        status = r.program.process.wait(10)
        expect(status == 0, f"SIGTERM ended the program with status {status}")


class ExportedMenu:
    """The icon's menu as a StatusNotifierItem panel reads and clicks it."""

    def __init__(self, desktop):
        bus = dbus.SessionBus()

        def registered():
            """The item registered last, once it is on the bus: an icon
            shown again registers anew, on a connection of its own."""
            with open(desktop.watcher_log) as f:
                lines = [line.split() for line in f if line.strip()]
            return lines and bus.name_has_owner(lines[-1][0]) and lines[-1]
        service, path, _ = wait_until("a registered item on the bus", registered, 15)
        self.item = bus.get_object(service, path)
        menu = self.item.Get("org.kde.StatusNotifierItem", "Menu",
                             dbus_interface=dbus.PROPERTIES_IFACE)
        self.menu = bus.get_object(service, menu)

    def labels(self):
        _, (_, _, children) = self.menu.GetLayout(0, -1, [],
                                                  dbus_interface="com.canonical.dbusmenu")
        return {str(props["label"]).replace("&", ""): int(ident)
                for ident, props, _ in children if "label" in props}

    def click(self, label, token=None):
        """A click on an item; a panel on Wayland first hands over a token
        for the window the click may bring up."""
        if token:
            self.item.ProvideXdgActivationToken(token,
                                                dbus_interface="org.kde.StatusNotifierItem")
        self.menu.AboutToShow(0, dbus_interface="com.canonical.dbusmenu")
        self.menu.Event(self.labels()[label], "clicked",
                        dbus.Int32(0, variant_level=1), dbus.UInt32(int(time.time())),
                        dbus_interface="com.canonical.dbusmenu")


def flow_sni(r):
    s = r.steps

    def configuration_in_front(what):
        token = r.desktop.activation_token()
        ExportedMenu(r.desktop).click("Configuration", token)
        wait_until(f"{what}: an activation with the panel's token",
                   lambda: token in r.trace.activations())
        wait_until(f"{what}: the window in front", r.desktop.in_front)

    first_start(r)
    with s.step("the icon registers and exports its menu"):
        labels = list(ExportedMenu(r.desktop).labels())
        expect(labels == ["Enable Quillon", "Configuration", "Hide This Menu", "Exit Quillon"],
               f"the exported menu holds {labels}")
    with s.step("a second start carrying its launcher's token brings the window forward"):
        r.away()
        r.in_front_again("a second start")
    with s.step("Configuration, clicked with the panel's token, brings the window forward"):
        r.away()
        configuration_in_front("on screen")
    with s.step("Escape hides the window behind the icon; a second start brings it back"):
        wait_until("the window active", has_keyboard)
        r.desktop.key("Escape")
        wait_until("the window hidden", lambda: r.desktop.window() is None)
        r.in_front_again("after Escape")
    with s.step("the close button hides it; Configuration, with the panel's token, shows it"):
        r.desktop.close()
        wait_until("the window hidden", lambda: r.desktop.window() is None)
        configuration_in_front("hidden")
    with s.step("Exit Quillon in the exported menu ends with status 0"):
        wait_until("the window active", has_keyboard)
        r.desktop.key("Escape")
        wait_until("the window hidden", lambda: r.desktop.window() is None)
        ExportedMenu(r.desktop).click("Exit Quillon")
        status = r.program.process.wait(15)
        expect(status == 0, f"Exit ended with status {status}")


FLOWS = {"wayland-no-tray": ("none", flow_no_tray), "wayland-sni": ("sni", flow_sni)}


@contextlib.contextmanager
def session(tray, vendor_files, keep):
    folder = tempfile.mkdtemp(prefix="quillon-wayland-")
    processes = d.Processes(folder)
    try:
        desktop = w.WaylandDesktop(processes, folder, tray)
        peers = d.Peers(processes, folder, vendor_files)
        yield folder, processes, desktop, peers
    finally:
        processes.stop_all()
        os.makedirs(keep, exist_ok=True)
        for name in os.listdir(folder):
            if name.endswith(".log"):
                shutil.copy(os.path.join(folder, name), keep)
        shutil.rmtree(folder, ignore_errors=True)


def main():
    global ui
    parser = argparse.ArgumentParser()
    parser.add_argument("flow", choices=sorted(FLOWS))
    for option in ("--program", "--reg", "--vendor", "--out", "--build"):
        parser.add_argument(option, required=True)
    parser.add_argument("--hostile-peer")  # given to every desktop flow; not used here
    parser.add_argument("--isolated", action="store_true")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    missing = w.missing_tools()
    if missing:
        print(f"SKIPPED: {', '.join(missing)} missing (scripts/setup.sh installs them)")
        return 77
    if d.listening(8080):
        print("SKIPPED: port 8080 is in use here; the program's port is fixed")
        return 77
    tray, flow = FLOWS[args.flow]
    with session(tray, args.vendor, args.out) as (folder, processes, desktop, peers):
        import screen
        ui = screen
        flow(Run(args, folder, processes, desktop, peers))
    print(f"desktop {args.flow}: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
