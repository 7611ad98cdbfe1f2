# SPDX-License-Identifier: MIT
"""Takes the README's pictures from the real program, started in the
current folder (the repository root, for its sprite), on an Xvfb of its own.

With FRAMES_DIR, first records an animation there (frame000.ppm, ...): the
pointer drifts off centre and back, so the lattice starts turning, speeds
up, slows and comes to rest. Then the still: the pointer is held off centre
for a moment so the lattice has turned, then brought back to the centre so
the picture holds still while it is read.
  python3 tools/shoot.py PROGRAM OUT.ppm [FRAMES_DIR]"""
import math
import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
import xdrive  # noqa: E402


def save(pixels, path):
    with open(path, "wb") as f:
        f.write(b"P6\n800 600\n255\n" + pixels.astype("uint8").tobytes())


program, out, frames = sys.argv[1], sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None
desktop = xdrive.Desktop("800x600", None)
work = tempfile.mkdtemp()
try:
    shutil.copytree("data", work + "/run/data")
    demo = xdrive.launch_showing(desktop, [os.path.abspath(program)], work + "/run", [])
    at = [400, 300]

    def pointer(x, y):
        desktop.move(x - at[0], y - at[1])
        at[:] = x, y
    for n in range(48 if frames else 0):
        # Out and back along a half sine: moderate offsets, as a hand would.
        s = math.sin(math.pi * n / 47)
        pointer(400 + round(150 * s), 300 + round(90 * s))
        time.sleep(0.1)
        save(desktop.grab(), "%s/frame%03d.ppm" % (frames, n))
    pointer(560, 380)
    time.sleep(2)
    pointer(400, 300)
    save(desktop.settled()[1], out)
    desktop.tap("Escape")
    sys.exit("shoot: the demo did not end cleanly on Escape" if demo.wait(20) != 0 else 0)
finally:
    desktop.stop()
    shutil.rmtree(work)
