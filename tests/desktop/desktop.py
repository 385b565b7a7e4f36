"""A desktop for driving the real program as a person does.

Xvfb, a session bus with the accessibility bus, openbox and, as asked, an
XEmbed tray (trayer), a StatusNotifierItem host of our own or no notification
area at all; real peers (nginx as the vendor and origin, tinyproxy as the
upstream proxy); the program started with a home of its own. Controls are
found and read through AT-SPI, and pressed with the mouse and keys through
xdotool. Every process started here is stopped by its id.
"""

import contextlib
import ctypes
import ctypes.util
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time


class Failure(Exception):
    pass


def wait_until(what, check, timeout=10.0, interval=0.1):
    """Polls `check` until it gives a true value, which is returned; raises
    Failure naming `what` after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            value = check()
            if value:
                return value
        except Exception as error:  # the program may be busy or mid-change
            last_error = error
        if time.monotonic() > deadline:
            detail = f" (last error: {last_error})" if last_error else ""
            raise Failure(f"timed out waiting for {what}{detail}")
        time.sleep(interval)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port):
    with socket.socket() as s:
        s.settimeout(0.5)
        return s.connect_ex(("127.0.0.1", port)) == 0


def run(argv, env=None, timeout=30, check=False):
    done = subprocess.run(argv, env=env, timeout=timeout, capture_output=True, text=True)
    if check and done.returncode != 0:
        raise Failure(f"{argv[0]} failed ({done.returncode}): {done.stderr.strip()}")
    return done


class Processes:
    """Background processes, each stopped by its id at the end."""

    def __init__(self, folder):
        self.folder = folder
        self.started = []

    def start(self, name, argv, env=None, cwd=None):
        log = open(os.path.join(self.folder, name + ".log"), "ab")
        process = subprocess.Popen(argv, env=env, cwd=cwd, stdout=log, stderr=subprocess.STDOUT,
                                   stdin=subprocess.DEVNULL)
        log.close()
        self.started.append((name, process))
        return process

    def stop(self, process, timeout=5):
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(timeout)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    def stop_all(self):
        for _, process in reversed(self.started):
            self.stop(process)
        self.started.clear()


class Peers:
    """nginx serving `www` (the vendor's files and the origin's pages) and
    tinyproxy, both on free loopback ports."""

    def __init__(self, processes, folder, vendor_files):
        self.www = os.path.join(folder, "www")
        shutil.copytree(vendor_files, self.www)
        self.nginx_port = free_port()
        conf = os.path.join(folder, "nginx.conf")
        temp = os.path.join(folder, "nginx-temp")
        os.makedirs(temp, exist_ok=True)
        with open(conf, "w") as f:
            f.write(f"""daemon off; master_process off; worker_processes 1;
pid {folder}/nginx.pid; error_log {folder}/nginx-error.log;
events {{ worker_connections 256; }}
http {{
 access_log {folder}/nginx-access.log;
 client_body_temp_path {temp}/body; proxy_temp_path {temp}/proxy;
 fastcgi_temp_path {temp}/fcgi; uwsgi_temp_path {temp}/uwsgi; scgi_temp_path {temp}/scgi;
 default_type application/octet-stream;
 types {{ text/html html; text/plain txt; }}
 server {{ listen 127.0.0.1:{self.nginx_port}; root {self.www}; }}
}}
""")
        nginx = shutil.which("nginx") or "/usr/sbin/nginx"
        processes.start("nginx", [nginx, "-p", folder, "-c", conf])
        self.proxy_port = free_port()
        tconf = os.path.join(folder, "tinyproxy.conf")
        with open(tconf, "w") as f:
            f.write(f"Port {self.proxy_port}\nListen 127.0.0.1\nTimeout 60\nMaxClients 100\n"
                    "LogLevel Info\nAllow 127.0.0.1\n")
        tinyproxy = shutil.which("tinyproxy") or "/usr/sbin/tinyproxy"
        processes.start("tinyproxy", [tinyproxy, "-d", "-c", tconf])
        wait_until("nginx and tinyproxy to listen",
                   lambda: listening(self.nginx_port) and listening(self.proxy_port))
        self.access_log = os.path.join(folder, "nginx-access.log")

    @property
    def vendor_url(self):
        return f"http://127.0.0.1:{self.nginx_port}"

    @property
    def proxy(self):
        return f"127.0.0.1:{self.proxy_port}"

    def write(self, path, content):
        full = os.path.join(self.www, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(content.encode() if isinstance(content, str) else content)

    def set_list(self, entries):
        self.write("licensing/ProxyGenerator/proxylist.txt", "".join(e + "\r\n" for e in entries))

    def requests_for(self, path):
        try:
            with open(self.access_log) as f:
                return sum(1 for line in f if f"GET {path} " in line)
        except FileNotFoundError:
            return 0


class HostilePeers:
    """Upstream proxies as public lists have them (the hostile_peer program):
    each behaviour on a port of its own, and a blackholed port where the
    network namespace is the test's own."""

    def __init__(self, processes, folder, exe, behaviours, blackhole=False):
        out = os.path.join(folder, "hostile-peer.out")
        argv = [exe, *(["--blackhole"] if blackhole else []), *behaviours]
        with open(out, "w") as f:
            self.process = subprocess.Popen(argv, stdout=f, stderr=subprocess.STDOUT,
                                            stdin=subprocess.DEVNULL)
        processes.started.append(("hostile-peer", self.process))

        def ready():
            with open(out) as f:
                lines = f.read().split("\n")
            return lines if "ready" in lines else None
        lines = wait_until("the hostile peers", ready)
        self.endpoints = dict(line.split(" ", 1) for line in lines
                              if line.count(" ") == 1 and ":" in line)

    def __getitem__(self, behaviour):
        return self.endpoints[behaviour]


class Desktop:
    """The X display, buses, window manager and notification area."""

    def __init__(self, processes, folder, tray):
        self.processes = processes
        self.folder = folder
        self.tray = tray
        number = next(n for n in range(140, 200) if not os.path.exists(f"/tmp/.X11-unix/X{n}")
                      and not os.path.exists(f"/tmp/.X{n}-lock"))
        self.display = f":{number}"
        self.env = dict(os.environ)
        for name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                     "no_proxy", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "SESSION_MANAGER"):
            self.env.pop(name, None)
        self.env["DISPLAY"] = self.display
        xvfb = processes.start("xvfb", ["Xvfb", self.display, "-screen", "0", "1024x768x24",
                                        "-nolisten", "tcp", "-noreset"], env=self.env)
        wait_until("the X display", lambda: xvfb.poll() is None and self._x_answers())
        address = os.path.join(folder, "session-bus")
        bus = processes.start("dbus", ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                       f"--address=unix:path={address}"], env=self.env)
        wait_until("the session bus", lambda: bus.poll() is None and self._bus_answers(address))
        self.env["DBUS_SESSION_BUS_ADDRESS"] = f"unix:path={address}"
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = self.env["DBUS_SESSION_BUS_ADDRESS"]
        os.environ["DISPLAY"] = self.display
        processes.start("atspi", ["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                        env=self.env)
        processes.start("openbox", ["openbox"], env=self.env)
        wait_until("the window manager", lambda: "window id" in run(
            ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env).stdout)
        if tray == "xembed":
            processes.start("trayer", ["trayer", "--edge", "top", "--align", "right",
                                       "--widthtype", "pixel", "--width", "100", "--height", "24",
                                       "--transparent", "false", "--SetDockType", "true"],
                            env=self.env)
            # Docked once it owns the tray selection: a program that looks
            # before that finds no notification area.
            wait_until("the tray", lambda: self.tray_selection_owned(), 15)
        elif tray == "sni":
            here = os.path.dirname(os.path.abspath(__file__))
            self.watcher_log = os.path.join(folder, "watcher-items")
            processes.start("watcher", [sys.executable, os.path.join(here, "sni_watcher.py"),
                                        self.watcher_log], env=self.env)
            wait_until("the StatusNotifierWatcher", lambda: "org.kde.StatusNotifierWatcher" in run(
                ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                 "/org/freedesktop/DBus", "org.freedesktop.DBus.ListNames"], env=self.env).stdout)

    @staticmethod
    def _xlib():
        x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XInternAtom.restype = ctypes.c_ulong
        x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x11.XGetSelectionOwner.restype = ctypes.c_ulong
        x11.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        return x11

    def _x_answers(self):
        x11 = self._xlib()
        display = x11.XOpenDisplay(self.display.encode())
        if display:
            x11.XCloseDisplay(display)
        return bool(display)

    def tray_selection_owned(self):
        x11 = self._xlib()
        display = x11.XOpenDisplay(self.display.encode())
        if not display:
            return False
        try:
            atom = x11.XInternAtom(display, b"_NET_SYSTEM_TRAY_S0", 0)
            return x11.XGetSelectionOwner(display, atom) != 0
        finally:
            x11.XCloseDisplay(display)

    @staticmethod
    def _bus_answers(address):
        with socket.socket(socket.AF_UNIX) as s:
            return s.connect_ex(address) == 0

    def xdotool(self, *args):
        return run(["xdotool", *map(str, args)], env=self.env).stdout

    def windows(self, name=None, classname=None, visible=True):
        """X windows (mapped ones, unless told) whose name or class name
        matches."""
        what = ["--classname", classname] if classname else ["--name", name]
        out = self.xdotool("search", *(["--onlyvisible"] if visible else []), *what)
        return [int(w) for w in out.split()]

    def geometry(self, window):
        out = self.xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        try:
            return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
        except (KeyError, ValueError):
            return 0, 0, 0, 0  # gone meanwhile

    def wm_state(self, window):
        """'Normal', 'Iconic' or 'Withdrawn' (no WM_STATE: not managed)."""
        out = run(["xprop", "-id", str(window), "WM_STATE"], env=self.env).stdout
        found = re.search(r"window state: (\w+)", out)
        return found.group(1) if found else "Withdrawn"

    def click(self, x, y, button=1):
        self.xdotool("mousemove", int(x), int(y))
        time.sleep(0.05)
        self.xdotool("click", button)

    def key(self, *keys):
        self.xdotool("key", "--clearmodifiers", *keys)

    def type(self, text):
        self.xdotool("type", "--delay", "15", text)

    def screenshot(self, path, window=None, crop=None):
        run(["import", "-window", str(window) if window else "root", path], env=self.env,
            check=True)
        if crop:
            x, y, w, h = crop
            run(["convert", path, "-crop", f"{w}x{h}+{x}+{y}", "+repage", path], check=True)
        return path

    @staticmethod
    def drawn(path):
        """How much the picture varies: near 0 for a blank one."""
        out = run(["convert", path, "-colorspace", "Gray", "-format",
                   "%[fx:standard_deviation]", "info:"], check=True).stdout
        return float(out.strip())


class Program:
    """The program with a home of its own: settings store, GNOME's settings
    in a keyfile, the XDG folders, and a fake xdg-open that records what the
    program asks the desktop to open."""

    def __init__(self, processes, desktop, folder, exe, reg, vendor_url, seeded=True):
        self.processes = processes
        self.desktop = desktop
        self.exe = exe
        self.reg = reg
        self.home = os.path.join(folder, "home")
        self.data = os.path.join(self.home, "data") + "/"
        self.opened = os.path.join(folder, "opened")
        tools = os.path.join(folder, "bin")
        for d in (self.home, self.data, tools, os.path.join(self.home, ".config")):
            os.makedirs(d, exist_ok=True)
        runtime = os.path.join(folder, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        with open(os.path.join(tools, "xdg-open"), "w") as f:
            f.write(f"#!/bin/sh\necho \"$@\" >> '{self.opened}'\n")
        os.chmod(os.path.join(tools, "xdg-open"), 0o755)
        env = dict(desktop.env)
        env.update({
            "HOME": self.home,
            "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
            "XDG_DATA_HOME": os.path.join(self.home, ".local/share"),
            "XDG_CACHE_HOME": os.path.join(self.home, ".cache"),
            "XDG_RUNTIME_DIR": runtime,
            "XDG_CURRENT_DESKTOP": "GNOME",
            "GSETTINGS_BACKEND": "keyfile",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "QUILLON_VENDOR_URL": vendor_url,
            "PATH": tools + ":" + env.get("PATH", "/usr/bin:/bin"),
        })
        self.env = env
        if seeded:  # unseeded: a new user's home, nothing stored yet
            self.set("AppPath", "REG_SZ", self.data)
        self.process = None

    def set(self, name, kind, data):
        run([self.reg, "add", "HKLM\\Software\\Quillon", "/v", name, "/t", kind, "/d", str(data),
             "/f"], env=self.env, check=True)

    def get(self, name):
        out = run([self.reg, "query", "HKLM\\Software\\Quillon", "/v", name], env=self.env).stdout
        found = re.search(name + r"\s+REG_\w+\s+(.*)", out)
        return found.group(1).strip() if found else None

    def gsettings(self, key, schema="org.gnome.system.proxy"):
        return run(["gsettings", "get", schema, key], env=self.env).stdout.strip()

    def start(self, argv=None):
        self.process = self.processes.start("quillon", argv or [self.exe], env=self.env,
                                            cwd=self.home)
        return self.process

    def second_start(self, timeout=15):
        """Another copy, as a person starts it again: its status."""
        done = subprocess.run([self.exe], env=self.env, cwd=self.home, timeout=timeout,
                              capture_output=True)
        return done.returncode

    def alive(self):
        return self.process is not None and self.process.poll() is None


# ---------------------------------------------------------------- steps

class Steps:
    """Named steps: a failure says which step, keeps a screenshot and the
    program's output, and ends the run."""

    def __init__(self, desktop, out, program_log=None):
        self.desktop = desktop
        self.out = out
        self.program_log = program_log
        self.count = 0

    @contextlib.contextmanager
    def step(self, name):
        self.count += 1
        print(f"-- {self.count:02d} {name}", flush=True)
        started = time.monotonic()
        try:
            yield
        except Exception as error:
            slug = re.sub(r"[^a-z0-9]+", "-", name.lower()).strip("-")[:60]
            shot = os.path.join(self.out, f"failed-{self.count:02d}-{slug}.png")
            try:
                self.desktop.screenshot(shot)
            except Exception as shot_error:
                shot = f"(no screenshot: {shot_error})"
            print(f"FAILED at step {self.count:02d} '{name}': {error}", flush=True)
            print(f"screenshot: {shot}", flush=True)
            if self.program_log and os.path.exists(self.program_log):
                with open(self.program_log, errors="replace") as f:
                    tail = f.read()[-2000:]
                print("program output (end):\n" + tail, flush=True)
            raise SystemExit(1)
        print(f"   ok ({time.monotonic() - started:.1f} s)", flush=True)


def expect(condition, message):
    if not condition:
        raise Failure(message)


@contextlib.contextmanager
def session(tray, vendor_files, keep=None):
    """A folder, the desktop and the peers; everything stopped afterwards."""
    folder = tempfile.mkdtemp(prefix="quillon-desktop-")
    processes = Processes(folder)
    try:
        desktop = Desktop(processes, folder, tray)
        peers = Peers(processes, folder, vendor_files)
        yield folder, processes, desktop, peers
    finally:
        processes.stop_all()
        if keep:
            os.makedirs(keep, exist_ok=True)
            for name in os.listdir(folder):
                if name.endswith(".log"):
                    shutil.copy(os.path.join(folder, name), keep)
        shutil.rmtree(folder, ignore_errors=True)

