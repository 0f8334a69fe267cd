#!/usr/bin/env python3
"""The updater downloading a 1 MiB and a 200 MiB patch from a loopback server under Xvfb:
its peak RSS, the download time, and the time from the server's last byte to the question.
Usage: bench/updater_bench.py"""
import os
import subprocess
import sys
import tempfile
import time

from benchlib import BUILD, ROOT, Desktop, build, measured, own_address, rusage_of, stop, wait_until

UPDATER = os.path.join(BUILD, "Player", "Updater", "updater")
TITLE = "Radio Velmora Updater"


def run(desktop, address, scenario, size):
    with open(os.path.join(scenario, "patch.body"), "wb") as f:
        block = bytes(range(256)) * 4096
        for _ in range(size // len(block)):
            f.write(block)
    tmp = tempfile.mkdtemp(prefix="sonvale-bench-tmp-")
    env = dict(desktop.env, SONVALE_UPDATE_HOST=f"{address}:8080", TMPDIR=tmp,
               XDG_CONFIG_HOME=os.path.join(tmp, "config"))
    asked = {}

    def answer_no():
        found = wait_until(lambda: desktop.run(["xdotool", "search", "--name", f"^{TITLE}$"]).stdout.split(), 600,
                           interval=0.005)
        asked["at"] = time.monotonic()
        desktop.run(["xdotool", "windowfocus", "--sync", found[0]])
        desktop.run(["xdotool", "key", "Escape"])

    import threading
    watcher = threading.Thread(target=answer_no)
    watcher.start()
    began = time.monotonic()
    _, usage, _ = measured([UPDATER], env=env)
    watcher.join()
    with open(os.path.join(scenario, "last-byte")) as f:
        last_byte = float(f.read())
    os.remove(os.path.join(tmp, "patch.exe"))
    return rusage_of(usage)[1], last_byte - began, asked["at"] - last_byte


def main():
    build("updater")
    desktop = Desktop(with_tray=False)
    scenario = tempfile.mkdtemp(prefix="sonvale-bench-service-")
    with open(os.path.join(scenario, "check.body"), "w") as f:
        f.write("<html><body>false</body></html>")
    address = own_address(7)
    service = subprocess.Popen([sys.executable, os.path.join(ROOT, "tests", "support", "update_service.py"), address,
                                "8080", scenario], stdout=subprocess.PIPE, text=True)
    service.stdout.readline()
    try:
        results = {size: run(desktop, address, scenario, size) for size in (1 << 20, 200 << 20)}
    finally:
        stop(service)
        desktop.close()
        os.remove(os.path.join(scenario, "patch.body"))
    print(f"{'patch':>10} {'peak RSS':>12} {'download':>12} {'last byte to question':>24}")
    for size, (rss, download, question) in results.items():
        print(f"{size >> 20:>6} MiB {rss:>8.1f} MiB {download:>10.2f} s {question * 1000:>21.0f} ms")
    small, large = results[1 << 20][0], results[200 << 20][0]
    print(f"peak RSS 200 MiB / 1 MiB: {large / small:.2f}")


if __name__ == "__main__":
    main()
