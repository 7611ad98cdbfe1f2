# SPDX-License-Identifier: MIT
"""Drives the program as a person would, on an Xvfb of its own: XTest input,
the screen read back, frames counted as the server shows them (Damage)."""
import os
import signal
import subprocess
import time

import numpy as np
from Xlib import X, XK, display
from Xlib.ext import damage, xtest
from Xlib.protocol import event

# How many times longer every wait lasts (a program under an emulator is slow).
PATIENCE = float(os.environ.get("E2E_PATIENCE") or 1)


class Desktop:
    def __init__(self, size, wm):
        self.servers = []
        read, write = os.pipe()
        # The first free display, so that rows side by side never race for one.
        self.start("Xvfb", "-displayfd", str(write), "-screen", "0", size + "x24",
                   "-nolisten", "tcp", "-noreset", "+extension", "GLX", fds=[write])
        os.close(write)
        with os.fdopen(read) as f:
            self.name = ":" + f.readline().strip()
        self.x = display.Display(self.name)
        self.root = self.x.screen().root
        self.width, self.height = self.x.screen().width_in_pixels, self.x.screen().height_in_pixels
        self.x.damage_query_version()
        self.x.xfixes_query_version()
        self.root.damage_create(damage.DamageReportRawRectangles)
        self.shown = []  # the server time of each picture the program has put on the screen
        if wm:
            # As a user has it: the manager has the screen before any program.
            self.start(wm, "--sm-disable")
            check = self.x.intern_atom("_NET_SUPPORTING_WM_CHECK")
            assert self.eventually(lambda: self.root.get_full_property(check, X.AnyPropertyType), 20)

    def start(self, *argv, fds=()):
        self.servers.append(subprocess.Popen(argv, pass_fds=fds, stdin=subprocess.DEVNULL,
                                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                             env=dict(os.environ, DISPLAY=getattr(self, "name", ""))))

    def stop(self):
        for p in reversed(self.servers):
            p.kill()
            p.wait()

    def frames(self, before=None):
        """Frames shown (each one drawing of a quarter of the mode or more, or of a smaller screen), or before
        the request with that sequence number was served."""
        if before is None:
            self.x.sync()
        for _ in range(self.x.pending_events()):
            e = self.x.next_event()
            if type(e).__name__ == "DamageNotify" and e.area.width * e.area.height >= min(
                    400 * 300, self.width * self.height // 4):
                self.shown.append((e.sequence_number, e.timestamp))
        count = len(self.shown)
        # (Sequence numbers have 16 bits: only the last few are compared.)
        while before is not None and count and (self.shown[count - 1][0] - before) & 0xFFFF < 0x8000:
            count -= 1
        return count

    def wait_frames(self, count):
        until, end = self.frames() + count, time.monotonic() + 10 * PATIENCE
        while self.frames() < until and time.monotonic() < end:
            time.sleep(0.005)

    def eventually(self, check, seconds=20):
        """Until check() holds; gives up after seconds and ten frames a second, or 10 x that."""
        start, wait = time.monotonic(), seconds * PATIENCE
        frames = self.frames() + 10 * seconds
        while True:
            if check():
                return True
            waited = time.monotonic() - start
            if waited > 10 * wait or (waited > wait and self.frames() >= frames):
                return False
            time.sleep(0.1)

    def grab(self, x=0, y=0, w=None, h=None, numbered=False):
        """Rows of RGB; numbered, also how many frames were shown before."""
        w, h = w or self.width, h or self.height
        reply = self.root.get_image(x, y, w, h, X.ZPixmap, 0xFFFFFFFF)
        # Each pixel is 32 bits in the server's own byte order: BGRX from a
        # little-endian one, XRGB from a big-endian one (an emulated s390x's).
        order = slice(2, None, -1) if self.x.display.info.image_byte_order == X.LSBFirst else slice(1, 4)
        pixels = np.frombuffer(reply.data, np.uint8).reshape(h, w, 4)[:, :, order].astype(np.int16)
        return (pixels, self.frames(reply.sequence_number)) if numbered else pixels

    def settled(self, turning=False):
        """Whether the picture holds over ten frames (turning: changes), and it."""
        pictures = [self.grab()]

        def check():
            self.wait_frames(10)
            pictures.append(self.grab())
            return np.array_equal(pictures[-2], pictures[-1]) != turning
        return self.eventually(check), pictures[-1]

    def move(self, dx, dy):
        xtest.fake_input(self.x, X.MotionNotify, detail=True, x=dx, y=dy)
        self.x.sync()

    def key(self, name, down):
        code = self.x.keysym_to_keycode(XK.string_to_keysym(name))
        xtest.fake_input(self.x, X.KeyPress if down else X.KeyRelease, code)
        self.x.sync()

    def tap(self, name, times=1):
        # Spaced out: SDL drops a release and a press that share a timestamp
        # (X's own repeat), and its queue holds 128 events at most.
        for _ in range(times):
            self.key(name, True)
            time.sleep(0.01)
            self.key(name, False)
            time.sleep(0.01 * PATIENCE)

    def click(self, button):
        for kind in X.ButtonPress, X.ButtonRelease:
            xtest.fake_input(self.x, kind, button)
        self.x.sync()

    def pointer_shown(self):
        """SDL hides it with an empty cursor, which the screen never shows."""
        return any(p >> 24 for p in self.x.xfixes_get_cursor_image(self.root).cursor_image)

    def window(self, w=None):
        """The topmost shown window taking WM_DELETE_WINDOW: the program's."""
        delete = self.x.intern_atom("WM_DELETE_WINDOW")
        for child in reversed((w or self.root).query_tree().children):
            if child.get_attributes().map_state == X.IsViewable:
                found = child if delete in (child.get_wm_protocols() or ()) else self.window(child)
                if found:
                    return found
        return None

    def picture(self):
        """Its 800 x 600 viewport: the bottom left of its window, however large."""
        w = self.window()
        if not w:
            return self.grab()
        g, at = w.get_geometry(), w.translate_coords(self.root, 0, 0)
        return self.grab(-at.x, -at.y + g.height - 600, 800, 600)

    def end(self, close):
        """Closes the window as a window manager does, or ends its connection."""
        w = self.window()
        if w and close:
            protocols, delete = (self.x.intern_atom(n) for n in ("WM_PROTOCOLS", "WM_DELETE_WINDOW"))
            w.send_event(event.ClientMessage(window=w, client_type=protocols,
                                             data=(32, [delete, X.CurrentTime, 0, 0, 0])))
        elif w:
            w.kill_client()
        self.x.sync()
        return w is not None


def lit_box(pixels, threshold=24):
    """(left, top, right, bottom) of the pixels over threshold; (0, 0, -1, -1)."""
    lit = (pixels > threshold).any(axis=2)
    rows, cols = np.flatnonzero(lit.any(axis=1)), np.flatnonzero(lit.any(axis=0))
    return (cols[0], rows[0], cols[-1], rows[-1]) if rows.size else (0, 0, -1, -1)


def showing(pixels):
    """Coloured (tinted) pixels over 100 x 100: a browser's blank window is grey."""
    left, top, right, bottom = lit_box((pixels.max(axis=2) - pixels.min(axis=2))[..., None])
    return right - left >= 100 and bottom - top >= 100


class Program:
    """Started in folder, without SDL's settings but for settings, on Mesa."""

    def __init__(self, desktop, command, folder, settings, attempt=0):
        self.folder, self.logs = folder, "%s.log%d" % (folder, attempt)
        os.makedirs(self.logs, mode=0o700)
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("SDL_", "E2E_")) and k != "WAYLAND_DISPLAY"}
        env.update(DISPLAY=desktop.name, LIBGL_ALWAYS_SOFTWARE="1", XDG_RUNTIME_DIR=self.logs)
        env.update(s.split("=", 1) for s in settings)
        # The pointer rests in the middle, where the display is centred.
        desktop.root.warp_pointer(desktop.width // 2, desktop.height // 2)
        desktop.x.sync()
        with open(self.logs + "/out", "w") as out, open(self.logs + "/err", "w") as err:
            self.process = subprocess.Popen(command, cwd=folder, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                            stderr=err, start_new_session=True)  # a kill reaches a browser too

    def wait(self, seconds=30):
        """The exit status, negative for a signal; None if it had to be killed."""
        try:
            return self.process.wait(seconds * PATIENCE)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            return self.process.wait() and None

    def output(self, stream):
        return open(self.logs + "/" + stream).read()


def launch_showing(desktop, command, folder, settings):
    """The program, once it shows; again only if the X server turned it away."""
    for attempt in range(3):
        run = Program(desktop, command, folder, settings, attempt)
        until = time.monotonic() + 60 * PATIENCE
        while not showing(desktop.grab()) and run.process.poll() is None:
            assert time.monotonic() < until, "the program drew nothing in %d s" % (60 * PATIENCE)
            time.sleep(0.05)
        if run.process.poll() is None:
            return run
        err = run.output("err")
        assert run.process.returncode == 1 and err in (
            "Video initialization failed: Couldn't open X11 display\n",
            "Video initialization failed: No available video device\n"), \
            "the program ended before drawing anything; stderr: " + err
    raise AssertionError("the X server refused the program three times")
