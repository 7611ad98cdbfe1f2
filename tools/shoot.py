# SPDX-License-Identifier: MIT
"""Takes the README's pictures from the real program, run in the repository root
(for its sprite) on an Xvfb of its own: with FRAMES_DIR, first frame000.ppm, ... of
the pointer drifting off centre and back; then the still. PROGRAM may be a command
line; SHOOT_SCREEN sets the screen (800x600), SHOOT_SETTINGS its settings (NAME=value ...).
  python3 tools/shoot.py PROGRAM OUT.ppm [FRAMES_DIR]"""
import math
import os
import shlex
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
import xdrive  # noqa: E402


def save(pixels, path):
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % pixels.shape[1::-1] + pixels.astype("uint8").tobytes())


program, out, frames = shlex.split(sys.argv[1]), sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None
desktop = xdrive.Desktop(os.environ.get("SHOOT_SCREEN") or "800x600", "openbox" if "browser.py" in sys.argv[1] else None)
work = tempfile.mkdtemp()
try:
    shutil.copytree("data", work + "/run/data")
    program[0] = os.path.abspath(shutil.which(program[0]) or program[0])  # it starts in its own folder
    demo = xdrive.launch_showing(desktop, program, work + "/run", os.environ.get("SHOOT_SETTINGS", "").split())
    at = [0, 0]  # the pointer's offset from the centre, where it starts

    def pointer(x, y):
        desktop.move(x - at[0], y - at[1])
        at[:] = x, y
    for n in range(48 if frames else 0):
        # Out and back along a half sine: moderate offsets, as a hand would.
        s = math.sin(math.pi * n / 47)
        pointer(round(150 * s), round(90 * s))
        time.sleep(0.1)
        save(desktop.grab(), "%s/frame%03d.ppm" % (frames, n))
    pointer(160, 80)
    time.sleep(2)
    pointer(0, 0)
    save(desktop.settled()[1], out)
    desktop.tap("Escape")
    status = demo.wait(20)
    sys.exit("shoot: the demo did not end cleanly on Escape (%s; %s)" % (status, demo.output("err")) if status != 0 else 0)
finally:
    desktop.stop()
    shutil.rmtree(work)
