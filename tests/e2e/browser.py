# SPDX-License-Identifier: MIT
"""The web page as a program: serves FOLDER on 127.0.0.1, shows its index in
a browser in kiosk mode filling the screen, passes on what the page's program
prints, and ends with its exit status when the page says it has ended.
  browser.py FOLDER chromium|firefox
Settings (in its environment):
  PAGE_WEBGL=off   the browser gives the page no WebGL
  PAGE_PHONE=DPR   Chromium only: the page on a phone of the screen's size at
                   that pixel ratio, with touch; the page's DevTools address
                   is left in ./devtools for whoever touches it
It leaves ./BROWSER.log (what the browser said besides the page's lines) and
./navigated (when the page was first asked for)."""
import http.server
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
from functools import partial

import websocket
from Xlib import display


class DevTools:
    """A Chromium page's DevTools protocol, one call at a time."""

    def __init__(self, address):
        self.socket = websocket.create_connection(address, suppress_origin=True)
        self.sent = 0

    def call(self, method, **params):
        self.sent += 1
        self.socket.send(json.dumps({"id": self.sent, "method": method, "params": params}))
        while True:
            reply = json.loads(self.socket.recv())
            if reply.get("id") == self.sent:
                assert "error" not in reply, reply
                return reply["result"]


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass  # standard error is the program's

    def do_GET(self):
        # When the page was first asked for (CLOCK_MONOTONIC), for a
        # benchmark to time its first picture from.
        if self.path == "/" and not os.path.exists("navigated"):
            with open("navigated", "w") as f:
                f.write(repr(time.monotonic()))
        super().do_GET()


def chromium(profile, size, url):
    # SwiftShader, Chromium's own software renderer, gives the page WebGL on a
    # display without a GPU, as Chromium does there by itself when allowed
    # to, the page composited without it (faster than compositing it there
    # too); the console's lines come on standard error.
    return (["chromium", "--kiosk", "--no-first-run", "--no-default-browser-check", "--noerrdialogs",
             "--password-store=basic", "--user-data-dir=" + profile, "--use-gl=angle",
             "--use-angle=swiftshader-webgl", "--enable-unsafe-swiftshader", "--enable-logging=stderr",
             "--log-level=0", "--window-position=0,0", "--window-size=%d,%d" % size]
            + ["--disable-webgl"] * (os.environ.get("PAGE_WEBGL") == "off")
            + ["--no-sandbox"] * (os.geteuid() == 0)  # Chromium's sandbox refuses root
            # A phone is made of the page's first window, which then goes to the page.
            + (["--remote-debugging-port=0", "about:blank"] if os.environ.get("PAGE_PHONE") else [url]))


def firefox(profile, size, url):
    # The console's lines come on standard output; llvmpipe draws WebGL. Its
    # first-run pages, updates, reports and remote services stay away (each
    # of these looked up hosts of its own).
    prefs = {"devtools.console.stdout.content": True, "webgl.disabled": os.environ.get("PAGE_WEBGL") == "off",
             "services.settings.server": "data:,#none/v1", "network.captive-portal-service.enabled": False,
             "network.connectivity-service.enabled": False, "dom.push.connection.enabled": False,
             "browser.region.network.url": "", "app.normandy.enabled": False, "browser.newtabpage.enabled": False,
             "datareporting.policy.dataSubmissionEnabled": False, "datareporting.usage.uploadEnabled": False,
             "extensions.systemAddon.update.enabled": False, "extensions.update.enabled": False,
             "media.gmp-manager.updateEnabled": False, "browser.safebrowsing.malware.enabled": False,
             "browser.safebrowsing.phishing.enabled": False, "browser.topsites.contile.enabled": False}
    with open(profile + "/user.js", "w") as f:
        f.writelines('user_pref("%s", %s);\n' % (k, json.dumps(v)) for k, v in prefs.items())
    # (Without its crash reporter, whose dialog would hold the console's pipe
    # open after a crash; the remote-settings server above is taken only so.)
    os.environ.update(MOZ_CRASHREPORTER_DISABLE="1", MOZ_REMOTE_SETTINGS_DEVTOOLS="1")
    return ["firefox-esr", "--kiosk", "--no-remote", "--profile", profile, "--width", str(size[0]),
            "--height", str(size[1]), url]


def phone(profile, url):
    """The page, once it is on a phone of the window's size."""
    while not os.path.exists(profile + "/DevToolsActivePort"):
        time.sleep(0.05)
    time.sleep(0.1)  # (written, then filled)
    port = open(profile + "/DevToolsActivePort").read().split()[0]
    targets = json.load(urllib.request.urlopen("http://127.0.0.1:%s/json/list" % port))
    address = next(t["webSocketDebuggerUrl"] for t in targets if t["type"] == "page")
    page = DevTools(address)
    width, height = display.Display().screen().width_in_pixels, display.Display().screen().height_in_pixels
    page.call("Emulation.setDeviceMetricsOverride", width=width, height=height, mobile=True,
              deviceScaleFactor=float(os.environ["PAGE_PHONE"]))
    page.call("Emulation.setTouchEmulationEnabled", enabled=True, maxTouchPoints=5)
    with open("devtools", "w") as f:
        f.write(address)
    page.call("Page.navigate", url=url)
    page.call("Page.bringToFront")  # the keyboard too, as a browser started with it gives it


def main(folder, browser):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), partial(Quiet, directory=folder))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = "http://127.0.0.1:%d/" % server.server_port
    # Kiosk mode fills the screen through the window manager; without one
    # the browser would open a smaller window: it is given the screen's size.
    screen = display.Display().screen()
    size = screen.width_in_pixels, screen.height_in_pixels
    profile = tempfile.mkdtemp(prefix="glowlattice-%s-" % browser)
    command = {"chromium": chromium, "firefox": firefox}[browser](profile, size, url)
    shown = subprocess.Popen(command, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if os.environ.get("PAGE_PHONE"):
        phone(profile, url)
    status = 1
    log = open(browser + ".log", "w")  # the rest of what it says, in the working folder
    # Chromium: [...:CONSOLE(12)] "stdout: text", source: ...; Firefox: console.log: "stdout: text"
    for line in shown.stdout:
        said = re.search(r'(?::CONSOLE[^]]*\]|^console\.log:) "(stdout|stderr|exit): (.*)"(, source: |$)', line)
        if not said:
            log.write(line)
            continue
        kind, text = said.group(1), said.group(2)
        if kind == "exit":
            status = int(text) if text.isdigit() else 1
            break
        print(text, file=sys.stdout if kind == "stdout" else sys.stderr, flush=True)
    shown.terminate()
    shown.wait()
    shutil.rmtree(profile, ignore_errors=True)
    return status


if __name__ == "__main__":
    sys.exit(main(os.path.abspath(sys.argv[1]), sys.argv[2]))
