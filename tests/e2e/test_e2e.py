# SPDX-License-Identifier: MIT
"""The program as a person meets it: started in a folder, shown on a real
desktop, steered with the pointer and the keys, ended with Escape or a close.
One table of cases; CTest runs rows of it on each runtime and desktop
(tests/CMakeLists.txt), each row set by the environment:
  E2E_COMMAND   how the program is started (words)
  E2E_SCREEN    the X server's size (800x600)   E2E_WM   its window manager
  E2E_LIBS      the SDL 1.2 runtime's folder selected through LD_LIBRARY_PATH
  E2E_RUNTIME   which runtime that is: compat or original
  E2E_SETUP, E2E_TEARDOWN   commands run on the desktop before and after"""
import gzip
import os
import shlex
import shutil
import signal
import subprocess
import time

import numpy as np
import pytest

import xdrive

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.dirname(HERE)
ENV = os.environ.get
SPRITE = "e2e/sprite24.bmp"
ANY = "nonzero"  # an expected status: anything but 0
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
#   hidden, runtime, centred   the pointer is hidden; the selected SDL
#              runtime is mapped; the picture is whole, 4:3 and centred
#   close, TERM, drop   a window manager's close request, SIGTERM, the X
#              server dropping the program's connection
CASES = [
    # Start-up: each failing step's message, and a sprite that is missing,
    # unreadable or refused, ending with 1 and nothing printed. The loader's
    # unit tests decide what each kind of file gives; these show the path.
    ("UnknownVideoDriver", SPRITE, ["SDL_VIDEODRIVER=nosuchdriver"], "", 1, "Video initialization failed: "),
    ("NoOpenGLDriver", SPRITE, ["SDL_VIDEODRIVER=dummy"], "", 1, "Video mode set failed: "),
    ("MissingSprite", "", [], "", 1, ""),
    ("SpriteNotABmp", "unit/corpus/RandomBytes.bmp", [], "", 1, ""),
    ("SpriteIsAFolder", "/", [], "", 1, ""),
    ("SpriteClaimsTooManyRows", "unit/corpus/EnormousHeight.bmp", [], "", 1, ""),
    # At rest, then farther and nearer, against the reference pictures and
    # the projection; a palettised sprite shows as its 24-bit twin. Far
    # enough that the farthest layers lie beyond 50 units, then near enough
    # that one layer is 0.4 units from the eye, inside 1 but not 0.1. Up in
    # two bursts: SDL 1.2 holds 128 events.
    ("Picture24", SPRITE, [], AS_BEFORE, 0, ""),
    ("Picture8", "e2e/sprite8.bmp", [], AS_BEFORE, 0, ""),
    # Input. Rates are half the offset from the centre, truncated toward
    # zero, a tenth of that per frame in whole steps: 19 pixels left of the
    # centre turn nothing, 20 do.
    ("PointerAtCentre", SPRITE, [], "@400,300 still Escape", 0, ""),
    ("PointerAtDeadZoneEdge", SPRITE, [], "@381,300 still Escape", 0, ""),
    ("PointerLeftOfDeadZone", SPRITE, [], "@380,300 turns Escape", 0, ""),
    ("PointerBelowDeadZone", SPRITE, [], "@400,321 turns Escape", 0, ""),
    ("PointerRightTurnsCounterClockwise", SPRITE, [], "settle Down*50 box-50 settle @440,300 right Escape", 0, ""),
    ("PointerDownTiltsTheTopNearer", SPRITE, [], "settle Down*50 box-50 settle @400,340 down Escape", 0, ""),
    ("HeldKeyRepeats", SPRITE, [], "settle Down*50 box-50 repeats Escape", 0, ""),
    # A key acts when it goes down, before it comes up.
    ("KeyActsWhenPressed", SPRITE, [], "settle press:Down changed release:Down Escape", 0, ""),
    ("OtherKeysAndButtonsChangeNothing", SPRITE, [],
     "settle a space Left Right Return q button1 button2 button3 button4 button5 same Escape", 0, ""),
    ("HidesThePointer", SPRITE, [], "hidden Escape", 0, ""),
    ("MapsTheSelectedSdlRuntime", SPRITE, [], "runtime Escape", 0, ""),
    ("WindowCloseEndsWithZero", SPRITE, [], "close", 0, ""),
    ("TerminationSignalIsACloseRequest", SPRITE, [], "TERM", 0, ""),
    ("LosingTheDisplayEndsWithNonZero", SPRITE, [], "drop", ANY, None),
    # Desktops larger than the display mode (1920 x 1080): the picture in its
    # 4:3 shape in the middle, at rest while the pointer rests at the centre;
    # right of it, it turns the right way, back at the centre it stops, and
    # Down and Up act.
    ("DesktopCentred", SPRITE, [], "centred still close", 0, ""),
    ("DesktopSteers", SPRITE, [],
     "still settle Down*50 narrower settle @440,300 right @400,300 still settle Up*10 wider Escape", 0, ""),
    # Started as a user starts it (the package's launcher, the Windows
    # program in its own folder), with no sprite where the test starts it:
    # it finds its own and shows it, at rest ("own": the shipped sprite).
    ("FindsItsOwnSprite", "", [], "centred still close", 0, ""),
    ("ShowsItsOwnSprite", "", [], "=own Escape", 0, ""),
]


@pytest.fixture(scope="session")
def desktop():
    d = xdrive.Desktop(ENV("E2E_SCREEN") or "800x600", ENV("E2E_WM"))
    on_it = dict(os.environ, DISPLAY=d.name)
    try:
        if ENV("E2E_SETUP"):
            subprocess.run(shlex.split(ENV("E2E_SETUP")), env=on_it, check=True)
        yield d
    finally:
        if ENV("E2E_TEARDOWN"):
            subprocess.run(shlex.split(ENV("E2E_TEARDOWN")), env=on_it)
        d.stop()


def projected_lattice(zoom):
    """Where the unturned lattice's squares must land for a viewing distance,
    worked out here from the projection rather than asked of the program: a
    70 degree vertical field of view over an 800 x 600 viewport. (left, top,
    right, bottom), the pixels whose centres the squares cover."""
    f, aspect = 1 / np.tan(np.radians(35)), 800 / 600
    at = 10 * (np.arange(30) - 15) / 7
    depth = -(zoom + at)
    depth = depth[depth >= 0.1]  # the rest lie beyond the near plane
    corners = np.add.outer(at, [-0.3, 0.3]).ravel()
    x = 400 * (1 + f / aspect * np.divide.outer(corners, depth))
    y = 300 * (1 - f * np.divide.outer(corners, depth))
    return (max(0, round(x.min())), max(0, round(y.min())),
            min(799, round(x.max()) - 1), min(599, round(y.max()) - 1))


def zoom_after(steps):
    """The viewing distance after steps presses of Up (or -steps of Down), in
    single precision as the program keeps it."""
    zoom = np.float32(-25)
    for _ in range(abs(steps)):
        zoom = np.float32(zoom + np.float32(0.6 if steps > 0 else -0.6))
    return float(zoom)


WIDTHS = [(lambda b: b[2] - b[0] + 1)(projected_lattice(zoom_after(-50 - k))) for k in range(60)]


def steps_beyond_fifty(width):
    """How many presses of Down beyond the first fifty a lit width shows."""
    return int(np.argmin([abs(w - width) for w in WIDTHS]))


def width(pixels):
    left, _, right, _ = xdrive.lit_box(pixels)
    return right - left + 1


def looks_like(d, name):
    """Pixels off by more than 8 in some channel: the runtimes, Mesa's
    releases and Wine differ by 2 at most; a square drawn or left out is more."""
    with gzip.open("%s/reference/%s.ppm.gz" % (HERE, name)) as f:
        assert f.readline() == b"P6\n" and f.readline() == b"800 600\n" and f.readline() == b"255\n"
        want = np.frombuffer(f.read(), np.uint8).reshape(600, 800, 3).astype(np.int16)
    got = []
    if not d.eventually(lambda: not got.append(d.picture()) and
                        (np.abs(got[-1] - want) > 8).any(axis=2).sum() == 0):
        off = (np.abs(got[-1] - want) > 8).any(axis=2).sum()
        path = os.path.abspath(name + "-got.ppm")
        with open(path, "wb") as f:
            f.write(b"P6\n800 600\n255\n" + got[-1].astype(np.uint8).tobytes())
        pytest.fail("unlike reference %s (%d pixels off); the screen is in %s" % (name, off, path))


def turns(d, turning):
    """The picture comes to change over ten frames, or to hold over them: the
    slowest turn, a step of 4096 a frame, shows only over several."""
    pictures = [d.grab()]

    def check():
        d.wait_frames(10)
        pictures.append(d.grab())
        return np.array_equal(pictures[-2], pictures[-1]) != turning
    return d.eventually(check)


def lit_row(pixels, y):
    """How wide the lit pixels of row y spread, and where they lie on average."""
    xs = np.flatnonzero((pixels[y] > 24).any(axis=1))
    return (xs[-1] - xs[0] + 1, xs.mean()) if xs.size else (0, pixels.shape[1] / 2)


def expect_turn_shown(d, before, right):
    """Right of the centre the lattice turns about z and y alike,
    counter-clockwise on the screen while its right side swings away: seen
    whole, its top right corner rises above the rest of the top edge. Below
    the centre it turns about x, its top coming nearer and its bottom going
    away: in perspective both its top and bottom edges go down the screen."""
    left, top, right_edge, bottom = xdrive.lit_box(before)
    was = (left + right_edge) / 2 if right else (top + bottom) / 2
    shift = [0]

    def seen():
        f = d.grab()
        b = xdrive.lit_box(f)
        shift[0] = (lit_row(f, b[1])[1] if right else (b[1] + b[3]) / 2) - was
        return abs(shift[0]) > (right_edge - left + 1) / (8 if right else 40)
    assert d.eventually(seen, 60), "no turn seen"
    assert shift[0] > 0, ("the top left corner rose: turned clockwise" if right
                          else "the lattice went up: its bottom came nearer")


# How long the program's next look at its events may follow the frame it
# has just shown (it does nothing else between the two), in milliseconds.
LOOKS_WITHIN = 15


def expect_repeats(d):
    """A held key, judged by the frames the program draws meanwhile, as the
    server timed them: the program looks at its events once a frame, right
    after showing the last. SDL repeats a key held past the delay (100 ms)
    at the first look an interval (30 ms) after the first look past the
    delay, then at the first look an interval after each repeat. Every frame
    is read back as the server shows it, its width telling how many presses
    of Down it shows. Where frames come too slowly to tell the delay from
    250 ms, the case ends skipped, not passed."""
    base = steps_beyond_fifty(width(d.settled()))
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
    assert len(firsts) >= 2, "no repeat in %d ms: %s" % (at[last - 1] - at[firsts[0] - 2], steps)

    def first_look(after, ms):
        """The latest the first look more than ms after the look that frame
        after acts on can come."""
        since = at[after - 2]
        return next((n for n in range(after + 1, last + 1) if at[n - 2] - since > ms + LOOKS_WITHIN), None)
    pressed = at[firsts[0] - 2]
    latest = first_look(first_look(firsts[0], 101) or last, 31)
    if latest is None or at[latest - 2] - pressed > 280 - LOOKS_WITHIN:
        pytest.skip("frames %d ms apart at most: too slow to tell the repeat's delay from 250 ms"
                    % np.diff(at[firsts[0] - 2:last]).max())
    assert at[firsts[1] - 2] - pressed >= 100 - LOOKS_WITHIN, "repeated early: %s" % steps
    assert firsts[1] <= latest, "repeated late: %s" % steps
    for before, after in zip(firsts[1:], firsts[2:]):
        assert after <= (first_look(before, 31) or last), "repeats too far apart: %s" % steps


def mapped(pid, name):
    with open("/proc/%d/maps" % pid) as f:
        return next((line[line.index("/"):].strip() for line in f if name in line), "")


def expect_selected_runtime(run):
    """A run proves nothing about a runtime unless the program maps it: the
    selected folder's library, and SDL2 exactly when it is the
    compatibility library, which works through it."""
    sdl12, sdl2 = mapped(run.pid, "/libSDL-1.2.so"), mapped(run.pid, "/libSDL2-2.0.so")
    assert sdl12, "no SDL 1.2 library mapped"
    if ENV("E2E_LIBS"):
        assert os.path.realpath(sdl12).startswith(os.path.realpath(ENV("E2E_LIBS")) + "/"), sdl12
    assert bool(sdl2) == (ENV("E2E_RUNTIME") == "compat"), "%s with SDL2 at '%s'" % (sdl12, sdl2)


def expect_centred(d):
    """The lit part is the picture's own rectangle, the lattice filling the
    display: in the middle, 4:3, at the mode's size or scaled to the
    screen's height."""
    box = []

    def centred():
        left, top, right, bottom = box[:] = xdrive.lit_box(d.grab())
        w, h = right - left + 1, bottom - top + 1
        return (abs(left + right + 1 - d.width) <= 4 and abs(top + bottom + 1 - d.height) <= 4 and
                abs(w * 3 - h * 4) <= 16 and (abs(w - 800) <= 2 or abs(h - d.height) <= 2))
    assert d.eventually(centred), "lit from (%d, %d) to (%d, %d)" % tuple(box)


def run_step(d, step, run, still):
    if step.startswith("="):
        looks_like(d, step[1:])
    elif step.startswith("@"):
        x, y = map(int, step[1:].split(","))
        d.move(x - still["x"], y - still["y"])
        still.update(x=x, y=y)
    elif step.startswith("box-"):
        want, got = projected_lattice(zoom_after(-int(step[4:]))), []
        assert d.eventually(lambda: not got.append(xdrive.lit_box(d.grab())) and
                            max(abs(a - b) for a, b in zip(got[-1], want)) <= 2), \
            "lit %s, want %s" % (got[-1], want)
    elif step == "settle":
        still["picture"] = d.settled()
    elif step == "changed":
        assert d.eventually(lambda: not np.array_equal(d.grab(), still["picture"]))
    elif step == "same":
        assert np.array_equal(d.settled(), still["picture"])
    elif step in ("still", "turns"):
        assert turns(d, step == "turns"), step
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
    elif step == "close":
        assert d.close(), "no window takes WM_DELETE_WINDOW"
    elif step == "TERM":
        run.process.send_signal(signal.SIGTERM)
    elif step == "drop":
        assert d.drop(), "no window of the program's"
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
        shutil.copy(TESTS + "/" + sprite, folder + "/data/sprite01.bmp")
    command = shlex.split(ENV("E2E_COMMAND"))
    settings = settings + (["LD_LIBRARY_PATH=" + ENV("E2E_LIBS")] if ENV("E2E_LIBS") else [])
    if script:
        run = xdrive.launch_showing(desktop, command, folder, settings)
    else:
        run = xdrive.Program(desktop, command, folder, settings)
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
    err = run.output("err")
    if stderr:
        assert err.startswith(stderr) and len(err) > len(stderr) + 1, "SDL's reason is missing: " + err
        assert err.index("\n") == len(err) - 1, "one line: " + err
    else:
        assert err == ""
    assert run.output("out") == ""
