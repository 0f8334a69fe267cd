#!/usr/bin/env python3
"""The updater downloading a 1 MiB and a 200 MiB patch from a loopback server under Xvfb:
its peak RSS, the download time, and the time from the server's last byte to the question;
once as built without an update key, once built with one (build-signed/, a key made with
minisign at bench time) verifying the patch's signature.
Usage: bench/updater_bench.py"""
import os
import subprocess
import sys
import tempfile
import time

from benchlib import BUILD, ROOT, Desktop, build, measured, own_address, rusage_of, stop, wait_until

SIGNED_BUILD = os.path.join(ROOT, "build-signed")
TITLE = "Radio Velmora Updater"


def updater(directory):
    return os.path.join(directory, "Player", "Updater", "updater")


def make_key(folder):
    subprocess.run(["minisign", "-G", "-W", "-p", os.path.join(folder, "key.pub"), "-s", os.path.join(folder, "key.sec")],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(os.path.join(folder, "key.pub")) as f:
        return f.read().splitlines()[1]


def run(desktop, address, scenario, size, program, key_folder=None):
    patch = os.path.join(scenario, "patch.body")
    with open(patch, "wb") as f:
        block = bytes(range(256)) * 4096
        for _ in range(size // len(block)):
            f.write(block)
    signature = os.path.join(scenario, "sig.body")
    if key_folder:
        subprocess.run(["minisign", "-S", "-s", os.path.join(key_folder, "key.sec"), "-m", patch, "-t",
                        "version=0100000059", "-x", signature], check=True, stdout=subprocess.DEVNULL)
    elif os.path.exists(signature):
        os.remove(signature)
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
    _, usage, _ = measured([program], env=env)
    watcher.join()
    with open(os.path.join(scenario, "last-byte")) as f:
        last_byte = float(f.read())
    os.remove(os.path.join(tmp, "patch.exe"))
    return rusage_of(usage)[1], last_byte - began, asked["at"] - last_byte


def main():
    build("updater")
    keys = tempfile.mkdtemp(prefix="sonvale-bench-key-")
    build("updater", directory=SIGNED_BUILD, options=[f"-DSONVALE_UPDATE_KEY={make_key(keys)}"])
    desktop = Desktop(with_tray=False)
    scenario = tempfile.mkdtemp(prefix="sonvale-bench-service-")
    with open(os.path.join(scenario, "check.body"), "w") as f:
        f.write("<html><body>false</body></html>")
    address = own_address(7)
    service = subprocess.Popen([sys.executable, os.path.join(ROOT, "tests", "support", "update_service.py"), address,
                                "8080", scenario], stdout=subprocess.PIPE, text=True)
    service.stdout.readline()
    try:
        results = {(signed, size): run(desktop, address, scenario, size, updater(SIGNED_BUILD if signed else BUILD),
                                       keys if signed else None)
                   for signed in (False, True) for size in (1 << 20, 200 << 20)}
    finally:
        stop(service)
        desktop.close()
        os.remove(os.path.join(scenario, "patch.body"))
    print(f"{'build':>8} {'patch':>10} {'peak RSS':>12} {'download':>12} {'last byte to question':>24}")
    for (signed, size), (rss, download, question) in results.items():
        print(f"{'signed' if signed else 'unsigned':>8} {size >> 20:>6} MiB {rss:>8.1f} MiB {download:>10.2f} s "
              f"{question * 1000:>21.0f} ms")
    for signed in (False, True):
        small, large = results[(signed, 1 << 20)][0], results[(signed, 200 << 20)][0]
        print(f"{'signed' if signed else 'unsigned'}: peak RSS 200 MiB / 1 MiB: {large / small:.2f}")


if __name__ == "__main__":
    main()
