# SPDX-License-Identifier: MIT
"""Drives the real program as a person would: on an X server of its own
(Xvfb, with openbox or without a window manager), input through XTest, the
screen read back, frames counted as the server shows them (Damage), exit
status and standard error collected."""
import os
import select
import subprocess
import time

import numpy as np
from Xlib import X, XK, display
from Xlib.ext import damage, xtest
from Xlib.protocol import event

# How many times longer every wait lasts: a program under an emulator draws
# its frames many times more slowly.
PATIENCE = float(os.environ.get("E2E_PATIENCE") or 1)


class Desktop:
    def __init__(self, size, wm):
        self.servers = []
        read, write = os.pipe()
        # -displayfd: the server takes the first free display itself, so that
        # rows running side by side never race for a number.
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
            # As a user has it: the window manager has taken the screen
            # before any program maps a window.
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
        """Pictures shown so far: each reaches the server as one drawing of
        the whole window (Mesa's software renderer puts each finished frame
        there), at least a quarter of the display mode's size. With before,
        a request's sequence number, only those shown before it was served."""
        if before is None:
            self.x.sync()
        for _ in range(self.x.pending_events()):
            e = self.x.next_event()
            if type(e).__name__ == "DamageNotify" and e.area.width * e.area.height >= 400 * 300:
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
        """Until check() holds, or gives up: after seconds, and not before the
        program has shown ten a second's worth of frames too, so that a
        machine drawing slowly under load gets as many tries; always after
        ten times that long."""
        start, wait = time.monotonic(), seconds * PATIENCE
        frames = self.frames() + 10 * seconds
        while True:
            if check():
                return True
            waited = time.monotonic() - start
            if waited > 10 * wait or (waited > wait and self.frames() >= frames):
                return False
            time.sleep(0.2)

    def grab(self, x=0, y=0, w=None, h=None, numbered=False):
        """The screen's pixels, rows of RGB; numbered, also how many frames
        the program had shown when the server read them."""
        w, h = w or self.width, h or self.height
        reply = self.root.get_image(x, y, w, h, X.ZPixmap, 0xFFFFFFFF)
        pixels = np.frombuffer(reply.data, np.uint8).reshape(h, w, 4)[:, :, 2::-1].astype(np.int16)
        return (pixels, self.frames(reply.sequence_number)) if numbered else pixels

    def settled(self):
        """A picture that stays the same over ten frames."""
        pictures = [self.grab()]

        def same():
            self.wait_frames(10)
            pictures.append(self.grab())
            return np.array_equal(pictures[-2], pictures[-1])
        self.eventually(same)
        return pictures[-1]

    def move(self, dx, dy):
        xtest.fake_input(self.x, X.MotionNotify, detail=True, x=dx, y=dy)
        self.x.sync()

    def key(self, name, down):
        sym = XK.string_to_keysym(name)
        assert sym, "no key " + name
        xtest.fake_input(self.x, X.KeyPress if down else X.KeyRelease,
                         self.x.keysym_to_keycode(sym))
        self.x.sync()

    def tap(self, name, times=1):
        # SDL takes a release and a press that share a timestamp for the X
        # server's own auto-repeat and drops them, so the taps are spaced
        # out; and a slow program takes each frame's events at once, into a
        # queue of SDL 1.2's 128 events at most.
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
        """SDL hides the pointer by giving its window an empty cursor, which
        the screen's pixels never show; X says which cursor is current."""
        return any(p >> 24 for p in self.x.xfixes_get_cursor_image(self.root).cursor_image)

    def window(self, w=None):
        """The topmost window that takes WM_DELETE_WINDOW: a top-level one,
        or under a window manager the program's inside its frame; under Wine,
        the program's own above hidden ones of Wine's."""
        delete = self.x.intern_atom("WM_DELETE_WINDOW")
        for child in reversed((w or self.root).query_tree().children):
            if delete in (child.get_wm_protocols() or ()):
                return child
            found = self.window(child)
            if found:
                return found
        return None

    def picture(self):
        """The program's 800 x 600 viewport: the bottom left of its window,
        wherever that lies and however large (under Wine, the screen)."""
        w = self.window()
        if not w:
            return self.grab()
        g, at = w.get_geometry(), w.translate_coords(self.root, 0, 0)
        return self.grab(-at.x, -at.y + g.height - 600, 800, 600)

    def close(self):
        """What a window manager sends when a person closes the window."""
        w = self.window()
        if w:
            protocols, delete = (self.x.intern_atom(n) for n in ("WM_PROTOCOLS", "WM_DELETE_WINDOW"))
            w.send_event(event.ClientMessage(window=w, client_type=protocols,
                                             data=(32, [delete, X.CurrentTime, 0, 0, 0])))
            self.x.sync()
        return w is not None

    def drop(self):
        """As when the server goes away under it: its connection ends."""
        w = self.window()
        if w:
            w.kill_client()
            self.x.sync()
        return w is not None


def lit_box(pixels, threshold=24):
    """(left, top, right, bottom), inclusive, of the pixels over threshold in
    some channel; (0, 0, -1, -1) when none are."""
    lit = (pixels > threshold).any(axis=2)
    rows, cols = np.flatnonzero(lit.any(axis=1)), np.flatnonzero(lit.any(axis=0))
    return (cols[0], rows[0], cols[-1], rows[-1]) if rows.size else (0, 0, -1, -1)


def showing(pixels):
    left, top, right, bottom = lit_box(pixels)
    return right - left >= 100 and bottom - top >= 100


class Program:
    """The program started in folder, on desktop: the caller's environment,
    less anything that would steer SDL, plus the desktop's display, Mesa's
    software renderer, a private runtime folder as a desktop session has,
    and settings; started through command."""

    def __init__(self, desktop, command, folder, settings, attempt=0):
        self.logs = "%s.log%d" % (folder, attempt)
        os.makedirs(self.logs, mode=0o700)
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("SDL_", "E2E_")) and k != "WAYLAND_DISPLAY"}
        env.update(DISPLAY=desktop.name, LIBGL_ALWAYS_SOFTWARE="1", XDG_RUNTIME_DIR=self.logs)
        env.update(s.split("=", 1) for s in settings)
        # The pointer rests at the middle of the screen, where the program's
        # display is centred, when it starts.
        desktop.root.warp_pointer(desktop.width // 2, desktop.height // 2)
        desktop.x.sync()
        with open(self.logs + "/out", "w") as out, open(self.logs + "/err", "w") as err:
            self.process = subprocess.Popen(command, cwd=folder, env=env, stdin=subprocess.DEVNULL,
                                            stdout=out, stderr=err)
        self.pid = self.process.pid

    def wait(self, seconds=30):
        """The exit status, negative for a signal; None if it had to be killed."""
        try:
            return self.process.wait(seconds * PATIENCE)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            return None

    def output(self, stream):
        with open(self.logs + "/" + stream) as f:
            return f.read()


def launch_showing(desktop, command, folder, settings):
    """Starts the program and waits for its first picture. Starts it again
    only when the X server turned the connection away: the machine's
    failure under load, not the program's."""
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
