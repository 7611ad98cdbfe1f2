# SPDX-License-Identifier: MIT
"""The program as a person meets it, one table of cases; CTest runs rows of
it (tests/CMakeLists.txt), each set by the environment:
  E2E_COMMAND   how the program is started (words)
  E2E_SCREEN    the X server's size (800x600)   E2E_WM   its window manager
  E2E_LIBS      the SDL 1.2 runtime's folder selected through LD_LIBRARY_PATH
  E2E_RUNTIME   which runtime that is: compat or original
  E2E_SETUP, E2E_TEARDOWN   commands run on the desktop before and after
  E2E_RASTER    a browser draws: its references, NAME, or blocks (looks_like)
The web page's own cases (Web*) use tests/e2e/browser.py's settings."""
import gzip
import os
import re
import shlex
import shutil
import signal
import subprocess
import time

import numpy as np
import pytest

import browser
import xdrive

HERE = os.path.dirname(os.path.abspath(__file__))
ENV = os.environ.get
SPRITE = "e2e/sprite24.bmp"
ANY = "nonzero"  # an expected status: anything but 0
PPM = b"P6\n800 600\n255\n"  # a reference picture's header
AS_BEFORE = "=rest settle Down*50 box-50 =farther settle Up*45 changed settle Up*46 =nearer Escape"

# Each case: a sprite under tests/ ("" none, "/" a folder by its name),
# settings, a script of steps run in order once the picture shows (none: the
# program is only started), how it must end, and the one line it prints
# ("": nothing; None: not judged). The steps:
#   =NAME      the program's picture comes to match reference picture NAME
#   KEY[*N]    a key tapped (N times); press:KEY, release:KEY; buttonN
#   @X,Y       the pointer moved to where the program sees (X, Y)
#   settle     the picture holds still; later steps compare with it
#   box-N      the lit part lies where N presses of Down put the lattice
#   changed, same   the picture comes to differ from the settled one, or not
#   still, turns    the picture holds over ten frames, or changes
#   right, down     having turned, it shows the turn's direction
#   narrower, wider the lit part's width against the settled picture
#   repeats    a held key repeats after the delay, then every interval
#   hidden, runtime, centred   the pointer hidden; the runtime mapped; the picture whole, 4:3 and centred
#   touch@X,Y  a finger taps the page where the program sees (X, Y)
#   pinch, spread   two fingers 600 of its pixels apart come to 40, or back
#   close, TERM, drop   a close request, SIGTERM, the connection dropped
CASES = [
    ("UnknownVideoDriver", SPRITE, ["SDL_VIDEODRIVER=nosuchdriver"], "", 1, "Video initialization failed: "),
    ("NoOpenGLDriver", SPRITE, ["SDL_VIDEODRIVER=dummy"], "", 1, "Video mode set failed: "),
    ("MissingSprite", "", [], "", 1, ""),
    ("SpriteNotABmp", "unit/corpus/RandomBytes.bmp", [], "", 1, ""),
    ("SpriteIsAFolder", "/", [], "", 1, ""),
    ("SpriteClaimsTooManyRows", "unit/corpus/EnormousHeight.bmp", [], "", 1, ""),
    # At rest, farther (beyond 50 units) and nearer (a layer 0.4 from the eye);
    # a palettised sprite gives the texture of its 24-bit twin, so the same rest.
    # Up in bursts: SDL holds 128 events.
    ("Picture24", SPRITE, [], AS_BEFORE, 0, ""),
    ("Picture8", "e2e/sprite8.bmp", [], "=rest Escape", 0, ""),
    # Input: a tenth of half the offset per frame: 19 pixels turn nothing, 20 do.
    ("PointerAtCentre", SPRITE, [], "@400,300 still Escape", 0, ""),
    ("PointerAtDeadZoneEdge", SPRITE, [], "@381,300 still Escape", 0, ""),
    ("PointerLeftOfDeadZone", SPRITE, [], "@380,300 turns Escape", 0, ""),
    ("PointerBelowDeadZone", SPRITE, [], "@400,321 turns Escape", 0, ""),
    ("PointerRightTurnsCounterClockwise", SPRITE, [],
     "settle Down*50 box-50 settle @480,300 right hidden @400,300 still Escape", 0, ""),
    ("PointerDownTiltsTheTopNearer", SPRITE, [], "settle Down*50 box-50 settle @400,380 down Escape", 0, ""),
    ("HeldKeyRepeats", SPRITE, [], "settle Down*50 box-50 repeats Escape", 0, ""),
    ("KeyActsWhenPressed", SPRITE, [], "settle press:Down changed release:Down Escape", 0, ""),
    ("OtherKeysAndButtonsChangeNothing", SPRITE, [],
     "settle a space Left Right Return q button1 button2 button3 button4 button5 same Escape", 0, ""),
    ("HidesThePointer", SPRITE, [], "=rest @410,300 hidden Escape", 0, ""),
    ("MapsTheSelectedSdlRuntime", SPRITE, [], "runtime Escape", 0, ""),
    ("WindowCloseEndsWithZero", SPRITE, [], "close", 0, ""),
    ("TerminationSignalIsACloseRequest", SPRITE, [], "TERM", 0, ""),
    ("LosingTheDisplayEndsWithNonZero", SPRITE, [], "drop", ANY, None),
    # Desktops larger than the mode: the picture 4:3 in the middle, steered.
    ("DesktopCentred", SPRITE, [], "centred still close", 0, ""),
    ("DesktopSteers", SPRITE, [],
     "still settle Down*50 narrower settle @480,300 right @400,300 still settle Up*10 wider Escape", 0, ""),
    # Started as a user starts it (the package's launcher, the Windows
    # program in its own folder): it finds its own sprite ("own").
    ("FindsItsOwnSprite", "", [], "centred still close", 0, ""),
    ("ShowsItsOwnSprite", "", [], "=own Escape", 0, ""),
    # The page: a browser without WebGL; points a pixel wide at most, so every
    # square goes as its corners, in two draws; on a phone, either way up, a
    # finger steers as the pointer does, two bring it nearer, farther.
    ("WebWithoutWebGL", SPRITE, ["PAGE_WEBGL=off"], "", 1, "glowlattice draws with WebGL, "),
    ("WebAsCorners", SPRITE, ["PAGE_POINTS=1"], "=rest Down*50 box-50 =farther Escape", 0, ""),
    ("WebPhone", SPRITE, ["PAGE_PHONE=3"],
     "centred Down*50 settle touch@480,300 right touch@400,300 still settle pinch narrower still settle spread wider"
     " still Escape", 0, ""),
]


@pytest.fixture(scope="session")
def desktop():
    d = xdrive.Desktop(ENV("E2E_SCREEN") or "800x600", ENV("E2E_WM"))
    def on_it(name):
        return ENV(name) and subprocess.run(shlex.split(ENV(name)), env=dict(os.environ, DISPLAY=d.name), check=True)
    try:
        on_it("E2E_SETUP")
        yield d
        on_it("E2E_TEARDOWN")
    finally:
        d.stop()


def projected_lattice(down):
    """The pixels (left, top, right, bottom) the unturned lattice covers after
    presses of Down (each 0.6 farther, in single precision), from the
    projection: 70 degrees vertically, 800 x 600."""
    zoom = np.float32(-25)
    for _ in range(down):
        zoom = np.float32(zoom - np.float32(0.6))
    f, aspect, zoom = 1 / np.tan(np.radians(35)), 800 / 600, float(zoom)
    at = 10 * (np.arange(30) - 15) / 7
    depth = -(zoom + at)[zoom + at <= -0.1]  # the rest lie beyond the near plane
    corners = np.add.outer(at, [-0.3, 0.3]).ravel()
    x = 400 * (1 + f / aspect * np.divide.outer(corners, depth))
    y = 300 * (1 - f * np.divide.outer(corners, depth))
    return (max(0, round(x.min())), max(0, round(y.min())),
            min(799, round(x.max()) - 1), min(599, round(y.max()) - 1))


WIDTHS = [(lambda b: b[2] - b[0] + 1)(projected_lattice(50 + k)) for k in range(60)]


def steps_beyond_fifty(width):
    """How many presses of Down beyond the first fifty a lit width shows."""
    return int(np.argmin([abs(w - width) for w in WIDTHS]))


def width(pixels):
    left, _, right, _ = xdrive.lit_box(pixels)
    return right - left + 1


def looks_like(d, name):
    """No pixel off by more than 8: runtimes, Mesa and Wine differ by 2 at most.
    E2E_RASTER=NAME: a browser's own references; blocks: the means of 8 x 8
    blocks within 24 (docs/testing.md)."""
    blocks = lambda p: p.reshape(75, 8, 100, 8, 3).mean(axis=(1, 3))  # noqa: E731
    pick, limit = (blocks, 24) if ENV("E2E_RASTER") == "blocks" else (lambda p: p, 8)
    if ENV("E2E_RASTER") not in (None, "blocks"):
        name += "-" + ENV("E2E_RASTER")
    path, want = "%s/reference/%s.ppm.gz" % (HERE, name), np.zeros((600, 800, 3), np.int16)
    if os.path.exists(path):  # (missing, as when it is to be retaken: nothing is like it)
        with gzip.open(path) as f:
            want = np.frombuffer(f.read()[len(PPM):], np.uint8).reshape(600, 800, 3).astype(np.int16)
    want, got = pick(want), []
    if not d.eventually(lambda: not got.append(d.picture()) and (abs(pick(got[-1]) - want) <= limit).all()):
        with open(name + "-got.ppm", "wb") as f:
            f.write(PPM + got[-1].astype(np.uint8).tobytes())
        pytest.fail("unlike reference %s (%d off); the screen is in %s-got.ppm" %
                    (name, (abs(pick(got[-1]) - want) > limit).any(axis=-1).sum(), os.path.abspath(name)))


def expect_turn_shown(d, before, right):
    """Right of the centre its top right corner rises (counter-clockwise about
    z); below, its top comes nearer: both its edges go down the screen."""
    left, top, right_edge, bottom = xdrive.lit_box(before)
    was = (left + right_edge) / 2 if right else (top + bottom) / 2
    shift = [0]

    def seen():
        f = d.grab()
        _, t, _, b = xdrive.lit_box(f)
        xs = np.flatnonzero((f[t] > 24).any(axis=1))  # where its top row is lit
        shift[0] = ((xs.mean() if xs.size else f.shape[1] / 2) if right else (t + b) / 2) - was
        return abs(shift[0]) > (right_edge - left + 1) / (8 if right else 40)
    assert d.eventually(seen, 60), "no turn seen"
    assert shift[0] > 0, ("the top left corner rose: turned clockwise" if right
                          else "the lattice went up: its bottom came nearer")


# How long (ms) the program's next look at its events may follow its frame.
LOOKS_WITHIN = 15


def expect_repeats(d):
    """A held key, judged by every frame drawn meanwhile (its server time, and
    its width for the presses of Down it shows). The program looks at its
    events after each frame; SDL repeats at the first look an interval (30 ms)
    after the first past the delay (100 ms), then an interval after each
    repeat. Frames too slow to tell the delay from 250 ms skip the case."""
    base = steps_beyond_fifty(width(d.settled()[1]))
    shown_before = d.frames()
    steps = {shown_before: 0}
    d.key("Down", True)
    until = time.monotonic() + 0.6  # short of the X server's own repeat
    while time.monotonic() < until or len(d.shown) < shown_before + 3:
        row, n = d.grab(0, 298, 800, 5, numbered=True)
        steps.setdefault(n, steps_beyond_fifty(width(row)) - base)
        time.sleep(0.002)
    d.key("Down", False)
    at = [t for _, t in d.shown]
    last = max(steps)
    if len(steps) <= last - shown_before:
        pytest.skip("%d of %d frames read back: too few to judge the repeat"
                    % (len(steps) - 1, last - shown_before))
    assert all(steps[n] - steps[n - 1] in (0, 1) for n in steps if n > shown_before), steps
    # The frame that first shows the press, then each repeat; the look at
    # the events that frame n acts on follows frame n - 1 (at[n - 2]).
    firsts = [min(n for n in steps if steps[n] >= k) for k in range(1, steps[last] + 1)]

    def first_look(after, ms):
        since = at[after - 2]
        return next((n for n in range(after + 1, last + 1) if at[n - 2] - since > ms + LOOKS_WITHIN), None)
    assert firsts, "the press never showed: %s" % steps
    pressed = at[firsts[0] - 2]
    latest = first_look(first_look(firsts[0], 101) or last, 31)
    if latest is None or at[latest - 2] - pressed > 280 - LOOKS_WITHIN:
        pytest.skip("frames %d ms apart at most: too slow to tell the repeat's delay from 250 ms"
                    % np.diff(at[firsts[0] - 2:last]).max())
    assert len(firsts) >= 2, "no repeat in %d ms: %s" % (at[last - 1] - pressed, steps)
    assert at[firsts[1] - 2] - pressed >= 100 - LOOKS_WITHIN, "repeated early: %s" % steps
    assert firsts[1] <= latest, "repeated late: %s" % steps
    for before, after in zip(firsts[1:], firsts[2:]):
        assert after <= (first_look(before, 31) or last), "repeats too far apart: %s" % steps


def expect_selected_runtime(run):
    """The selected folder's SDL 1.2 is mapped, with SDL2 exactly when it is the compatibility library."""
    maps = open("/proc/%d/maps" % run.process.pid).read()
    sdl12 = re.search(r"/\S*/libSDL-1\.2\.so\S*", maps)
    assert sdl12 and os.path.realpath(sdl12[0]).startswith(os.path.realpath(ENV("E2E_LIBS") or "/")), maps
    assert ("/libSDL2-2.0.so" in maps) == (ENV("E2E_RUNTIME") == "compat"), maps


def expect_centred(d):
    """The lit lattice in the middle, 4:3, at the mode's size or the screen's height."""
    box = []

    def centred():
        left, top, right, bottom = box[:] = xdrive.lit_box(d.grab())
        w, h = right - left + 1, bottom - top + 1
        return (abs(left + right + 1 - d.width) <= 4 and abs(top + bottom + 1 - d.height) <= 4 and
                abs(w * 3 - h * 4) <= 16 and (abs(w - 800) <= 2 or abs(h - d.height) <= 2 or abs(w - d.width) <= 2))
    assert d.eventually(centred), "lit from (%d, %d) to (%d, %d)" % tuple(box)


def touch(d, run, step):
    """Fingers on the page's screen, the picture scaled to fit it, centred."""
    run.page = getattr(run, "page", None) or browser.DevTools(open(run.folder + "/devtools").read())
    scale = min(d.width / 800, d.height / 600)

    at = lambda x, y: {"x": d.width / 2 + (x - 400) * scale, "y": d.height / 2 + (y - 300) * scale}  # noqa: E731
    gaps = range(300, 19, -28) if step == "pinch" else range(20, 301, 28)  # the left slides first: a steer
    pairs = [[at(340 - gaps[0], 300)], [at(400 - gaps[0], 300)]] + [[at(400 - g, 300), at(400 + g, 300)] for g in gaps]
    strokes = [[at(*map(int, step[6:].split(",")))]] if step.startswith("touch@") else pairs
    for i, points in enumerate(strokes + [[]]):
        kind = "touchEnd" if not points else "touchMove" if i else "touchStart"
        run.page.call("Input.dispatchTouchEvent", type=kind, touchPoints=points)


def run_step(d, step, run, still):
    if step.startswith("="):
        looks_like(d, step[1:])
    elif step.startswith("touch@") or step in ("pinch", "spread"):
        touch(d, run, step)
    elif step.startswith("@"):
        x, y = map(int, step[1:].split(","))
        d.move(x - still["x"], y - still["y"])
        still.update(x=x, y=y)
    elif step.startswith("box-"):
        want, got = projected_lattice(int(step[4:])), []
        assert d.eventually(lambda: not got.append(xdrive.lit_box(d.grab())) and
                            max(abs(a - b) for a, b in zip(got[-1], want)) <= 2), \
            "lit %s, want %s" % (got[-1], want)
    elif step == "settle":
        still["picture"] = d.settled()[1]
    elif step == "changed":
        assert d.eventually(lambda: not np.array_equal(d.grab(), still["picture"]))
    elif step == "same":
        assert np.array_equal(d.settled()[1], still["picture"])
    elif step in ("still", "turns"):
        assert d.settled(step == "turns")[0], step
    elif step in ("right", "down"):
        expect_turn_shown(d, still["picture"], step == "right")
    elif step in ("narrower", "wider"):
        before, now = width(still["picture"]), []
        assert d.eventually(lambda: not now.append(width(d.grab())) and
                            (now[-1] > before if step == "wider" else now[-1] < before * 3 / 4)), \
            "%s: lit %d pixels wide, %d before" % (step, now[-1], before)
    elif step == "repeats":
        expect_repeats(d)
    elif step == "hidden":
        assert d.eventually(lambda: not d.pointer_shown())
    elif step == "runtime":
        expect_selected_runtime(run)
    elif step == "centred":
        expect_centred(d)
    elif step in ("close", "drop"):
        assert d.end(step == "close"), "no window takes WM_DELETE_WINDOW"
    elif step == "TERM":
        run.process.send_signal(signal.SIGTERM)
    elif step.startswith(("press:", "release:")):
        d.key(step.split(":")[1], step.startswith("p"))
    elif step.startswith("button"):
        d.click(int(step[6:]))
    else:
        name, _, times = step.partition("*")
        d.tap(name, int(times or 1))


@pytest.mark.parametrize("name, sprite, settings, script, status, stderr", CASES, ids=[c[0] for c in CASES])
def test_case(desktop, tmp_path, name, sprite, settings, script, status, stderr):
    folder = str(tmp_path / "run")
    os.makedirs(folder + "/data")
    if sprite == "/":
        os.mkdir(folder + "/data/sprite01.bmp")
    elif sprite:
        shutil.copy(os.path.dirname(HERE) + "/" + sprite, folder + "/data/sprite01.bmp")
    command = shlex.split(ENV("E2E_COMMAND"))
    settings = settings + (["LD_LIBRARY_PATH=" + ENV("E2E_LIBS")] if ENV("E2E_LIBS") else [])
    run = (xdrive.launch_showing if script else xdrive.Program)(desktop, command, folder, settings)
    until = time.monotonic() + 30 * xdrive.PATIENCE  # (a start-up that fails draws nothing)
    while not script and run.process.poll() is None and time.monotonic() < until:
        assert not xdrive.showing(desktop.grab()), "it drew"
    still = {"x": 400, "y": 300}
    try:
        for step in script.split():
            run_step(desktop, step, run, still)
    except BaseException:
        run.wait(0)
        raise
    end = run.wait()
    assert end is not None, "still running"
    assert end != 0 if status == ANY else end == status, "status %s" % end
    if stderr is None:
        return  # what Xlib prints of a lost connection
    err = run.output("err")  # one line, with SDL's reason
    assert (err.startswith(stderr) and err.find("\n") == len(err) - 1 > len(stderr)) if stderr else err == "", err
    assert run.output("out") == ""
