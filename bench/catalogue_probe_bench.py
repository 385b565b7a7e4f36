"""The probe as the shipped program runs it, timed from outside.

    catalogue_probe_bench.py --program build/quillon --reg build/quillon-reg
                             --vendor vendor --hostile-peer PATH [--runs 3]

On a desktop (Xvfb, openbox, the accessibility bus), with nginx as the
vendor (it serves the test image) and tinyproxy as a good proxy, and the
hostile peers as the others: refusing, closing, silent, garbage and, where
the network namespace is the test's own, blackholed. For each proxy and
run, the entry is picked in the drop-down and the first message answered;
measured: the time from that answer to the verdict's message, the verdict,
and, for a probe that takes a while, how long a second start takes meanwhile
(whether the window answers). Prints one Markdown row per proxy (medians).
Every process started here is stopped by its id.
"""

import argparse
import os
import statistics
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "desktop"))
import desktop as d  # noqa: E402
from desktop import wait_until  # noqa: E402

ui = None  # screen.py, once the session bus is up
KINDS = ["refuses", "closes", "silent", "garbage"]


def answer(desktop, expected, timeout=30):
    box, text = wait_until(f"the message '{expected}'",
                           lambda: (ui.alert() or (None, ""))[1] and ui.alert(), timeout, 0.01)
    if expected not in text:
        raise d.Failure(f"the message says {text!r}, expected {expected!r}")
    desktop.click(*ui.centre(ui.find("push button", "OK", root=box)))
    wait_until("the message to close", lambda: (ui.alert() or (None, None))[1] != text, 10, 0.01)
    return text


def pick(desktop, entry):
    combo = ui.find("combo box", root=ui.main_window())
    desktop.click(*ui.centre(ui.open_list_entry(desktop, combo, entry)))


def main():
    global ui
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--reg", required=True)
    parser.add_argument("--vendor", required=True)
    parser.add_argument("--hostile-peer", required=True)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="quillon-probe-bench-")
    processes = d.Processes(folder)
    rows = []
    try:
        desktop = d.Desktop(processes, folder, None)
        import screen
        ui = screen
        peers = d.Peers(processes, folder, args.vendor)
        hostile = d.HostilePeers(processes, folder, args.hostile_peer, KINDS[1:],
                                 blackhole=True)
        proxies = {"tinyproxy (good)": peers.proxy,
                   "refusing": f"127.0.0.1:{d.free_port()}"}
        proxies.update({kind: hostile[kind] for kind in KINDS[1:]})
        if "blackhole" in hostile.endpoints:
            proxies["blackholed"] = hostile["blackhole"]
        else:
            print("no blackhole here: run it in a network namespace of its own, as root",
                  file=sys.stderr)
        program = d.Program(processes, desktop, folder, os.path.abspath(args.program),
                            os.path.abspath(args.reg), peers.vendor_url)
        program.set("RunFirst", "REG_DWORD", 1)
        with open(os.path.join(program.data, "proxylist.txt"), "wb") as f:
            f.write("".join(f"{e}\r\r\n" for e in proxies.values()).encode())
        program.start()
        wait_until("the program on the accessibility bus", ui.app, 20)
        wait_until("the window", lambda: ui.main_window() is not None and ui.showing(
            ui.main_window()), 20)
        for name, endpoint in proxies.items():
            runs = []
            for _ in range(args.runs):
                pick(desktop, endpoint)
                answer(desktop, "Testing the proxy you selected")
                started = time.monotonic()
                second = None
                if name in ("silent", "blackholed"):
                    begun = time.monotonic()
                    program.second_start(timeout=30)
                    second = time.monotonic() - begun
                box, text = wait_until("the verdict", ui.alert, 30, 0.01)
                took = time.monotonic() - started
                verdict = "Available" if "is Available" in text else "NOT Available"
                answer(desktop, text.split("\n")[0])
                runs.append((took, verdict, second))
                print(f"{name}: {took:.2f} s, {verdict}" +
                      (f", second start {second:.2f} s" if second is not None else ""),
                      file=sys.stderr, flush=True)
            seconds = [r[2] for r in runs if r[2] is not None]
            rows.append((name, statistics.median(r[0] for r in runs), runs[-1][1],
                         statistics.median(seconds) if seconds else None))
    finally:
        processes.stop_all()
        d.run(["rm", "-rf", folder])
    print("| proxy | time to the verdict s | verdict | second start meanwhile s |")
    print("|---|---|---|---|")
    for name, took, verdict, second in rows:
        print(f"| {name} | {took:.2f} | {verdict} | "
              f"{'' if second is None else f'{second:.2f}'} |")


if __name__ == "__main__":
    main()
