# SPDX-License-Identifier: MIT
"""The web page as a program: serves FOLDER on 127.0.0.1, shows its index in
Chromium in kiosk mode, passes on what the page's program prints, and ends
with its exit status when the page says it has ended.
  browser.py FOLDER"""
import http.server
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
from functools import partial

from Xlib import display


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass  # standard error is the program's


folder = os.path.abspath(sys.argv[1])
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), partial(Quiet, directory=folder))
threading.Thread(target=server.serve_forever, daemon=True).start()
# Kiosk mode fills the screen through the window manager; without one
# Chromium would open a smaller window: it is given the screen's size.
screen = display.Display().screen()
profile = tempfile.mkdtemp(prefix="glowlattice-chromium-")
# SwiftShader, Chromium's own software renderer, gives the page WebGL on a
# display without a GPU, as Chromium does there by itself when allowed to,
# the page composited without it (faster than compositing it there too);
# the console's lines come on standard error.
chromium = subprocess.Popen(
    ["chromium", "--kiosk", "--no-first-run", "--no-default-browser-check", "--noerrdialogs",
     "--password-store=basic", "--user-data-dir=" + profile, "--use-gl=angle",
     "--use-angle=swiftshader-webgl", "--enable-unsafe-swiftshader", "--enable-logging=stderr", "--log-level=0",
     "--window-position=0,0", "--window-size=%d,%d" % (screen.width_in_pixels, screen.height_in_pixels),
     "http://127.0.0.1:%d/" % server.server_port]
    + ["--no-sandbox"] * (os.geteuid() == 0),  # Chromium's sandbox refuses root
    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
status = 1
log = open("chromium.log", "w")  # the rest of what it says, in the working folder
for line in chromium.stderr:
    said = re.search(r':CONSOLE[^]]*\] "(stdout|stderr|exit): (.*)", source: ', line)
    if not said:
        log.write(line)
        continue
    kind, text = said.groups()
    if kind == "exit":
        status = int(text) if text.isdigit() else 1
        break
    print(text, file=sys.stdout if kind == "stdout" else sys.stderr, flush=True)
chromium.terminate()
chromium.wait()
shutil.rmtree(profile, ignore_errors=True)
sys.exit(status)
