# SPDX-License-Identifier: MIT
"""Frames a second of the program on Xvfb with Mesa's software renderer and
of its web page in Chromium (SwiftShader) and in Firefox ESR (Mesa), on the
same kind of Xvfb (with openbox, for the browsers' full screen), alternating,
three runs each, all counted the same way: pictures the X server was given
(Damage). For each page also the time from its being asked for to the first
picture on the screen, and its bytes, gzip'd.
  web.py PROGRAM PAGE_FOLDER [SECONDS] [BROWSER...]   (from the repository root: its sprite)"""
import glob
import gzip
import os
import shutil
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import xdrive  # noqa: E402

program, page = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 10
browsers = sys.argv[4:] or ["chromium", "firefox"]
harness = os.path.join(os.path.dirname(xdrive.__file__), "browser.py")
subjects = [("program", [program])] + [(b, [sys.executable, harness, page, b]) for b in browsers]
desktop = xdrive.Desktop("800x600", "openbox")
rates = {name: [] for name, _ in subjects}
first = {name: [] for name, _ in subjects}
try:
    for run in range(3):
        for name, command in subjects:
            folder = tempfile.mkdtemp(prefix="glowlattice-bench-")
            shutil.copytree("data", folder + "/data")
            shown = xdrive.Program(desktop, command, folder, [])
            while not xdrive.showing(desktop.grab()):
                assert shown.process.poll() is None, "%s ended before it drew" % name
                time.sleep(0.01)
            if name != "program":  # (browser.py notes when the page was asked for)
                first[name].append(time.monotonic() - float(open(folder + "/navigated").read()))
            desktop.wait_frames(10)  # past start-up and the first frames
            count, start = desktop.frames(), time.monotonic()
            time.sleep(seconds)
            rates[name].append((desktop.frames() - count) / (time.monotonic() - start))
            print("%-8s run %d: %.2f frames a second" % (name, run + 1, rates[name][-1]), flush=True)
            desktop.tap("Escape")
            assert shown.wait() == 0, "%s did not end with 0 on Escape" % name
            shutil.rmtree(folder)
            for logs in glob.glob(folder + ".log*"):
                shutil.rmtree(logs)
finally:
    desktop.stop()
base = statistics.median(rates["program"])
print("median: program %.2f frames a second" % base)
for name in browsers:
    rate = statistics.median(rates[name])
    print("median: %s %.2f frames a second, %.2f of the program's; first picture %d ms after the page "
          "was asked for (median of %s)" % (name, rate, rate / base, 1000 * statistics.median(first[name]),
                                            ", ".join("%d" % (1000 * t) for t in first[name])))
files = sorted(f for f in glob.glob(page + "/*") if not f.endswith("LICENSE"))  # (not loaded)
sizes = {os.path.basename(f): (os.path.getsize(f), len(gzip.compress(open(f, "rb").read(), 9))) for f in files}
print("page: %d bytes, %d gzip'd (%s)" % (sum(s for s, _ in sizes.values()), sum(g for _, g in sizes.values()),
                                        ", ".join("%s %d / %d" % (n, s, g) for n, (s, g) in sizes.items())))
