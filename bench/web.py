# SPDX-License-Identifier: MIT
"""Frames a second of the program on Xvfb with Mesa's software renderer and
of its web page in Chromium with SwiftShader, on the same kind of Xvfb (with
openbox, for the browser's full screen), alternating, three runs each, both
counted the same way: pictures the X server was given (Damage).
  web.py PROGRAM PAGE_FOLDER [SECONDS]   (from the repository root: its sprite)"""
import glob
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
browser = [sys.executable, os.path.join(os.path.dirname(xdrive.__file__), "browser.py"), page]
desktop = xdrive.Desktop("800x600", "openbox")
rates = {"program": [], "page": []}
try:
    for run in range(3):
        for name, command in ("program", [program]), ("page", browser):
            folder = tempfile.mkdtemp(prefix="glowlattice-bench-")
            shutil.copytree("data", folder + "/data")
            shown = xdrive.launch_showing(desktop, command, folder, [])
            desktop.wait_frames(10)  # past start-up and the first frames
            first, start = desktop.frames(), time.monotonic()
            time.sleep(seconds)
            rates[name].append((desktop.frames() - first) / (time.monotonic() - start))
            print("%-7s run %d: %.2f frames a second" % (name, run + 1, rates[name][-1]), flush=True)
            desktop.tap("Escape")
            assert shown.wait() == 0, "%s did not end with 0 on Escape" % name
            shutil.rmtree(folder)
            for logs in glob.glob(folder + ".log*"):  # one a launch, retried or not
                shutil.rmtree(logs)
finally:
    desktop.stop()
program_rate, page_rate = (statistics.median(rates[n]) for n in ("program", "page"))
print("median: program %.2f, page %.2f frames a second; page / program %.2f (target >= 0.8)"
      % (program_rate, page_rate, page_rate / program_rate))
