"""The proxy list as the shipped program shows it, timed from outside.

    catalogue_list_bench.py --program build/quillon --reg build/quillon-reg
                            --lists FOLDER --sizes 0,1000,40000,750000
                            [--runs 3] [--first-start] [--timeout 600]

FOLDER holds list-N.txt (one entry a line, LF) for each size N. For each
size and run: a home and settings store of the program's own, the list file
seeded in its AppPath as the program stores it (RunFirst=1, Minimize absent,
so the window shows), or with --first-start served by a loopback server and
downloaded at a first start (RunFirst absent). Measured on a desktop
(Xvfb, openbox, the accessibility bus), through AT-SPI and xdotool:
  listed   from the start until the drop-down's list holds N rows (one
           child count, read until it is N; while the window's thread is
           busy the read waits for it); N = 0 gives the start without a list;
  open     from a click on the drop-down's arrow until its list is on screen;
  end      from End in the open list until its last row is on screen (both
           not for N = 0: an empty list does not open);
  key      from a key typed in the edit field until the field shows it;
  RSS      VmRSS and VmHWM of the program once listed.
Prints one Markdown row per size (medians over the runs), each run on
standard error. Every process started here is stopped by its id.
"""

import argparse
import http.server
import os
import statistics
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "desktop"))
import desktop as d  # noqa: E402
from desktop import wait_until  # noqa: E402

ui = None  # screen.py, once the session bus is up


def children(node):
    try:
        return [c for c in node if c is not None]
    except Exception:
        return []


def find(node, role, depth=0):
    """The first node of the role below `node`, never walking into a list's
    rows (there may be hundreds of thousands)."""
    if ui.role(node) == role:
        return node
    if depth > 12 or ui.role(node) == "list":
        return None
    for child in children(node):
        found = find(child, role, depth + 1)
        if found is not None:
            return found
    return None


def combo_parts():
    app = ui.app()
    combo = find(app, "combo box") if app is not None else None
    if combo is None:
        return None
    parts = {ui.role(c): c for c in children(combo)}
    return (combo, parts["list"], parts["text"]) if "list" in parts and "text" in parts else None


def memory(pid):
    values = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, rest = line.partition(":")
            if key in ("VmRSS", "VmHWM"):
                values[key] = int(rest.split()[0]) // 1024
    return values["VmRSS"], values["VmHWM"]


class ListServer:
    """The vendor's list on a free loopback port (the generator request gets
    a 404)."""

    def __init__(self):
        self.body = b""
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                listed = self.path.endswith("/proxylist.txt")
                body = server.body if listed else b""
                self.send_response(200 if listed else 404)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    @property
    def url(self):
        return f"http://127.0.0.1:{self.httpd.server_address[1]}"

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def one_run(args, processes, desktop, folder, size, entries, server):
    home = tempfile.mkdtemp(prefix=f"list-{size}-", dir=folder)
    vendor = server.url if server else "http://127.0.0.1:9"
    program = d.Program(processes, desktop, home, os.path.abspath(args.program),
                        os.path.abspath(args.reg), vendor)
    if server:
        server.body = entries.encode()
    else:
        program.set("RunFirst", "REG_DWORD", 1)
        with open(os.path.join(program.data, "proxylist.txt"), "wb") as f:
            f.write(entries.replace("\n", "\r\r\n").encode())
    started = time.monotonic()
    process = program.start()

    def listed():
        parts = combo_parts()
        return parts if parts and parts[1].childCount == size else None
    combo, rows, field = wait_until(f"{size} rows listed", listed, args.timeout, 0.02)
    result = {"listed": time.monotonic() - started}
    result["rss"], result["hwm"] = memory(process.pid)

    if size:  # an empty list does not open
        # The arrow, at the right end of the closed box.
        x, y, w, h = ui.extents(combo)
        desktop.xdotool("mousemove", x + w - 6, y + h // 2)
        started = time.monotonic()
        desktop.xdotool("click", 1)
        wait_until("the list on screen", lambda: ui.showing(rows), 60, 0.01)
        result["open"] = time.monotonic() - started
        last = rows.getChildAtIndex(size - 1)
        started = time.monotonic()
        desktop.key("End")
        wait_until("the last row on screen", lambda: ui.showing(last), 60, 0.01)
        result["end"] = time.monotonic() - started
        desktop.key("Escape")
        wait_until("the list closed", lambda: not ui.showing(rows), 60, 0.01)

    desktop.click(*ui.centre(field))
    desktop.key("ctrl+a")
    started = time.monotonic()
    desktop.key("7")
    wait_until("the key in the field", lambda: ui.text_of(field) == "7", 60, 0.01)
    result["key"] = time.monotonic() - started
    processes.stop(process)
    return result


def main():
    global ui
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--reg", required=True)
    parser.add_argument("--lists", required=True)
    parser.add_argument("--sizes", default="0,1000,40000,750000")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--timeout", type=float, default=600)
    parser.add_argument("--first-start", action="store_true")
    args = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="quillon-list-bench-")
    processes = d.Processes(folder)
    server = ListServer() if args.first_start else None
    rows = []
    try:
        desktop = d.Desktop(processes, folder, None)
        import screen
        ui = screen
        for size in (int(s) for s in args.sizes.split(",")):
            with open(os.path.join(args.lists, f"list-{size}.txt")) as f:
                entries = f.read()
            runs = []
            for run in range(args.runs):
                result = one_run(args, processes, desktop, folder, size, entries, server)
                print(f"{size} entries, run {run + 1}: " +
                      ", ".join(f"{k} {v:.3f}" if isinstance(v, float) else f"{k} {v}"
                                for k, v in result.items()), file=sys.stderr, flush=True)
                runs.append(result)
            rows.append((size, {k: statistics.median(r[k] for r in runs) for k in runs[0]}))
    finally:
        processes.stop_all()
        if server:
            server.close()
        d.run(["rm", "-rf", folder])
    start = "first start, downloaded" if args.first_start else "later start, stored"
    print(f"| entries ({start}) | listed s | drop-down open ms | End in the list ms "
          "| key in the field ms | RSS MiB | peak RSS MiB |")
    print("|---|---|---|---|---|---|---|")
    for size, m in rows:
        ms = {k: f"{m[k] * 1000:.0f}" if k in m else "n/a" for k in ("open", "end")}
        print(f"| {size:,} | {m['listed']:.2f} | {ms['open']} | {ms['end']} "
              f"| {m['key'] * 1000:.0f} | {m['rss']:.0f} | {m['hwm']:.0f} |")


if __name__ == "__main__":
    main()
