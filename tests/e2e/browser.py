# SPDX-License-Identifier: MIT
"""The web page as a program: serves FOLDER on 127.0.0.1, shows its index in
a browser in kiosk mode filling the screen, passes on what the page's program
prints, and ends with its exit status when the page says it has ended.
  browser.py FOLDER chromium|firefox
PAGE_WEBGL=off: no WebGL. Chromium only, through its DevTools (their address
in ./devtools): PAGE_PHONE=DPR, a phone of the screen's size at that pixel
ratio, with touch; PAGE_POINTS=1, a WebGL whose points are at most a pixel.
It leaves ./BROWSER.log (the rest of what the browser said) and ./navigated
(when the page was first asked for, CLOCK_MONOTONIC)."""
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

from Xlib import X, display


class DevTools:
    """A Chromium page's DevTools protocol, one call at a time."""

    def __init__(self, address):
        import websocket  # only the browsers' rows need it, not the package's checks
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
        if self.path == "/" and not os.path.exists("navigated"):
            with open("navigated", "w") as f:
                f.write(repr(time.monotonic()))
        super().do_GET()


def chromium(profile, size, url):
    # SwiftShader, its own software renderer, gives the page WebGL without a
    # GPU (and composites nothing: faster); the console comes on stderr.
    return (["chromium", "--kiosk", "--no-first-run", "--no-default-browser-check", "--noerrdialogs",
             "--password-store=basic", "--user-data-dir=" + profile, "--use-gl=angle",
             "--use-angle=swiftshader-webgl", "--enable-unsafe-swiftshader", "--enable-logging=stderr",
             "--log-level=0", "--window-position=0,0", "--window-size=%d,%d" % size]
            + ["--disable-webgl"] * (os.environ.get("PAGE_WEBGL") == "off")
            + ["--no-sandbox"] * (os.geteuid() == 0)  # Chromium's sandbox refuses root
            # Its first window is made so, then goes to the page.
            + (["--remote-debugging-port=0", "about:blank"] if prepared() else [url]))


def firefox(profile, size, url):
    # The console comes on stdout; llvmpipe draws WebGL. Its remote services
    # stay away (each looked up hosts of its own).
    off = ("network.captive-portal-service.enabled network.connectivity-service.enabled dom.push.connection.enabled "
           "app.normandy.enabled browser.newtabpage.enabled datareporting.policy.dataSubmissionEnabled "
           "datareporting.usage.uploadEnabled extensions.systemAddon.update.enabled extensions.update.enabled "
           "media.gmp-manager.updateEnabled browser.safebrowsing.malware.enabled "
           "browser.safebrowsing.phishing.enabled browser.topsites.contile.enabled").split()
    prefs = dict(dict.fromkeys(off, False), **{
        "devtools.console.stdout.content": True, "webgl.disabled": os.environ.get("PAGE_WEBGL") == "off",
        "services.settings.server": "data:,#none/v1", "browser.region.network.url": ""})
    with open(profile + "/user.js", "w") as f:
        f.writelines('user_pref("%s", %s);\n' % (k, json.dumps(v)) for k, v in prefs.items())
    # (No crash reporter, whose dialog held the pipe; the settings server is taken only so.)
    os.environ.update(MOZ_CRASHREPORTER_DISABLE="1", MOZ_REMOTE_SETTINGS_DEVTOOLS="1")
    return ["firefox-esr", "--kiosk", "--no-remote", "--profile", profile, "--width", str(size[0]),
            "--height", str(size[1]), url]


# What a WebGL that draws points no wider than a pixel says of them.
POINTS_SCRIPT = """for (const kind of [self.WebGLRenderingContext, self.WebGL2RenderingContext].filter(Boolean)) {
  const asked = kind.prototype.getParameter;
  kind.prototype.getParameter = function (name) {
    return name === this.ALIASED_POINT_SIZE_RANGE ? new Float32Array([1, 1]) : asked.call(this, name);
  };
}"""


def prepared():
    return os.environ.get("PAGE_PHONE") or os.environ.get("PAGE_POINTS")


def prepare(profile, size, url):
    """The page, once its window is as the settings ask."""
    while not os.path.exists(profile + "/DevToolsActivePort"):
        time.sleep(0.05)
    time.sleep(0.1)  # (written, then filled)
    port = open(profile + "/DevToolsActivePort").read().split()[0]
    targets = json.load(urllib.request.urlopen("http://127.0.0.1:%s/json/list" % port))
    address = next(t["webSocketDebuggerUrl"] for t in targets if t["type"] == "page")
    page = DevTools(address)
    if os.environ.get("PAGE_PHONE"):
        page.call("Emulation.setDeviceMetricsOverride", width=size[0], height=size[1], mobile=True,
                  deviceScaleFactor=float(os.environ["PAGE_PHONE"]))
        page.call("Emulation.setTouchEmulationEnabled", enabled=True, maxTouchPoints=5)
    if os.environ.get("PAGE_POINTS"):
        page.call("Page.enable")
        page.call("Page.addScriptToEvaluateOnNewDocument", source=POINTS_SCRIPT)
    with open("devtools", "w") as f:
        f.write(address)
    page.call("Page.navigate", url=url)
    page.call("Page.bringToFront")  # the keyboard too, as a browser started with it gives it


def main(folder, browser):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), partial(Quiet, directory=folder))
    server.handle_error = lambda *args: None  # a browser ended mid-request is not the program's error
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = "http://127.0.0.1:%d/" % server.server_port
    # Kiosk mode fills the screen through the window manager; without one
    # the browser would open a smaller window: it is given the screen's size.
    # X's own key repeat off: a browser takes its repeats (of a tap, on a loaded machine) for presses.
    x = display.Display()
    x.change_keyboard_control(auto_repeat_mode=X.AutoRepeatModeOff)
    x.sync()
    size = x.screen().width_in_pixels, x.screen().height_in_pixels
    profile = tempfile.mkdtemp(prefix="glowlattice-%s-" % browser)
    shown = subprocess.Popen({"chromium": chromium, "firefox": firefox}[browser](profile, size, url), text=True,
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if prepared():  # (while what the browser says is read)
        threading.Thread(target=prepare, args=(profile, size, url), daemon=True).start()
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
