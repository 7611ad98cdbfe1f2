// SPDX-License-Identifier: MIT
// The program as a person meets it: started in a folder, shown on a real
// desktop, steered with the pointer and the keys, ended with Escape or a
// close. One table of cases, each a sprite, settings, a script of input and
// checks, and the way the program must end; CTest runs the table's rows on
// each runtime and desktop (tests/CMakeLists.txt).
#include "xdrive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace
{

const int nonZero = INT_MIN; // an expected status: anything but 0

struct Case {
    const char *name;
    const char *sprite; // under tests/: "" none, "/" a folder by the sprite's name
    std::vector<std::string> env;
    // Space-separated steps, run in order once the picture shows (none:
    // the program is only started):
    //   =NAME      the screen comes to match reference picture NAME
    //   KEY[*N]    a key tapped (N times); press:KEY, release:KEY; buttonN,
    //              a pointer button
    //   @X,Y       the pointer moved to where the program sees (X, Y)
    //   settle     the picture holds still; later steps compare with it
    //   box-N      the lit part lies where N presses of Down put the lattice
    //   changed    the picture comes to differ from the settled one
    //   same       ... or it stays as it was
    //   still, turns   the picture holds over a second, or changes
    //   right, down    having turned, it shows the turn's direction
    //   narrower, wider   the lit part's width against the settled picture
    //   repeats    a held key repeats on time
    //   hidden, runtime, centred   the pointer is hidden; the selected SDL
    //              runtime is the one mapped; the picture is whole, 4:3 and
    //              centred on the screen
    //   close, TERM, drop   a window manager's close request, SIGTERM, the
    //              X server dropping the program's connection
    const char *script;
    int status;               // how it must end
    const char *stderrPrefix; // one line starting so; "": nothing printed
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}

const char *const picture24 = "e2e/sprite24.bmp";

const Case cases[] = {
    // Start-up: each failing step's message, and a sprite that is missing,
    // unreadable or refused, ending with 1 and nothing printed. The loader's
    // unit tests decide what each kind of file gives; these show the path.
    {"UnknownVideoDriver", picture24, {"SDL_VIDEODRIVER=nosuchdriver"}, "", 1,
     "Video initialization failed: "},
    {"NoOpenGLDriver", picture24, {"SDL_VIDEODRIVER=dummy"}, "", 1, "Video mode set failed: "},
    {"MissingSprite", "", {}, "", 1, ""},
    {"SpriteNotABmp", "unit/corpus/RandomBytes.bmp", {}, "", 1, ""},
    {"SpriteIsAFolder", "/", {}, "", 1, ""},
    {"SpriteClaimsTooManyRows", "unit/corpus/EnormousHeight.bmp", {}, "", 1, ""},
    // At rest, then farther and nearer, against the reference pictures and
    // the projection; a palettised sprite shows as its 24-bit twin. Far
    // enough that the farthest layers lie beyond 50 units, then near enough
    // that one layer is 0.4 units from the eye, inside 1 but not 0.1. Up in
    // two bursts: SDL 1.2 holds 128 events, and a program slower than the
    // taps (under emulation) reads a whole burst from X in one go.
    {"Picture24", picture24, {}, "=rest settle Down*50 box-50 =farther settle Up*45 changed settle Up*46 =nearer Escape", 0, ""},
    {"Picture8", "e2e/sprite8.bmp", {}, "=rest settle Down*50 box-50 =farther settle Up*45 changed settle Up*46 =nearer Escape", 0, ""},
    // Input. Rates are half the offset from the centre, truncated toward
    // zero, a tenth of that per frame in whole steps: 19 pixels left of the
    // centre turn nothing, 20 do.
    {"PointerAtCentre", picture24, {}, "@400,300 still Escape", 0, ""},
    {"PointerAtDeadZoneEdge", picture24, {}, "@381,300 still Escape", 0, ""},
    {"PointerLeftOfDeadZone", picture24, {}, "@380,300 turns Escape", 0, ""},
    {"PointerBelowDeadZone", picture24, {}, "@400,321 turns Escape", 0, ""},
    {"PointerRightTurnsCounterClockwise", picture24, {}, "settle Down*50 box-50 settle @440,300 right Escape", 0, ""},
    {"PointerDownTiltsTheTopNearer", picture24, {}, "settle Down*50 box-50 settle @400,340 down Escape", 0, ""},
    {"HeldKeyRepeats", picture24, {}, "settle Down*50 box-50 repeats Escape", 0, ""},
    // A key acts when it goes down, before it comes up.
    {"KeyActsWhenPressed", picture24, {}, "settle press:Down changed release:Down Escape", 0, ""},
    {"OtherKeysAndButtonsChangeNothing", picture24, {},
     "settle a space Left Right Return q button1 button2 button3 button4 button5 same Escape", 0, ""},
    {"HidesThePointer", picture24, {}, "hidden Escape", 0, ""},
    {"MapsTheSelectedSdlRuntime", picture24, {}, "runtime Escape", 0, ""},
    {"WindowCloseEndsWithZero", picture24, {}, "close", 0, ""},
    {"TerminationSignalIsACloseRequest", picture24, {}, "TERM", 0, ""},
    {"LosingTheDisplayEndsWithNonZero", picture24, {}, "drop", nonZero, nullptr},
    // Desktops larger than the display mode (1920 x 1080): the picture in its
    // 4:3 shape in the middle, at rest while the pointer rests at the centre;
    // right of it, it turns the right way, back at the centre it stops, and
    // Down and Up act.
    {"DesktopCentred", picture24, {}, "centred still close", 0, ""},
    {"DesktopSteers", picture24, {},
     "still settle Down*50 narrower settle @440,300 right @400,300 still settle Up*10 wider Escape", 0, ""},
    // Started as a user starts it (the package's launcher, the Windows
    // program in its own folder), with no sprite where the test starts it:
    // it finds its own, shows it whole in the middle and at rest.
    {"FindsItsOwnSprite", "", {}, "centred still close", 0, ""},
};

// Where the unturned lattice's squares must land for a given viewing
// distance, worked out here from the projection rather than asked of the
// program: a 70 degree vertical field of view over an 800 x 600 viewport.
Box projectedLattice(float zoom)
{
    const double f = 1.0 / std::tan(35.0 * M_PI / 180.0), aspect = 800.0 / 600.0;
    double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
    for (int p = 0; p < 30; p++)
        for (int q = 0; q < 30; q++)
            for (int r = 0; r < 30; r++) {
                const double depth = -(zoom + 10.0 * (r - 15) / 7.0);
                if (depth < 0.1)
                    continue; // beyond the near plane
                for (double corner : {-0.3, 0.3}) {
                    const double x =
                        400.0 * (1 + f / aspect * (10.0 * (p - 15) / 7.0 + corner) / depth);
                    const double y = 300.0 * (1 - f * (10.0 * (q - 15) / 7.0 + corner) / depth);
                    left = std::min(left, x), right = std::max(right, x);
                    top = std::min(top, y), bottom = std::max(bottom, y);
                }
            }
    // Pixels whose centres the squares cover, within the screen.
    return Box{std::max(0, (int)std::lround(left)), std::max(0, (int)std::lround(top)),
               std::min(799, (int)std::lround(right) - 1),
               std::min(599, (int)std::lround(bottom) - 1)};
}

// The viewing distance after steps presses of Up (or -steps of Down), in
// single precision as the program keeps it.
float zoomAfter(int steps)
{
    float zoom = -25.0f;
    for (int n = 0; n < std::abs(steps); n++)
        zoom += steps > 0 ? 0.6f : -0.6f;
    return zoom;
}

int widthOf(const Box &b)
{
    return b.right - b.left + 1;
}

// How many steps of Down beyond the first fifty a picture shows.
int stepsBeyondFifty(const Frame &shown)
{
    const int width = widthOf(litBox(shown));
    int best = 0, off = INT_MAX;
    for (int k = 0; k < 300; k++) {
        const int d = std::abs(widthOf(projectedLattice(zoomAfter(-50 - k))) - width);
        if (d < off)
            best = k, off = d;
    }
    return best;
}

// A reference picture: tests/e2e/reference/NAME.ppm.gz, taken from the
// program and reviewed by eye (docs/testing.md says how, and what each shows).
Frame reference(const std::string &name)
{
    return readPpm("gzip -dc " GLOWLATTICE_TEST_DATA "/e2e/reference/" + name + ".ppm.gz");
}

// Pixels whose colour is off by more than 8 in some channel. The runtimes,
// Mesa's releases and Wine differ by 2 at most (docs/testing.md); a single
// square drawn or left out is more.
size_t offPixels(const Frame &got, const Frame &want)
{
    if (got.pixels.size() != want.pixels.size())
        return SIZE_MAX;
    size_t off = 0;
    for (size_t n = 0; n < want.pixels.size(); n++)
        for (int shift : {0, 8, 16})
            if (std::abs((int)(got.pixels[n] >> shift & 255) -
                         (int)(want.pixels[n] >> shift & 255)) > 8) {
                off++;
                break;
            }
    return off;
}

testing::AssertionResult looksLike(const std::string &name)
{
    const Frame want = reference(name);
    Frame got;
    if (eventually([&] { return offPixels(got = grab(), want) == 0; }))
        return testing::AssertionSuccess();
    saveFrame(got, testing::TempDir() + name + "-got.ppm");
    return testing::AssertionFailure()
           << (want.pixels.empty() ? "no reference " : "unlike reference ") << name << " ("
           << offPixels(got, want) << " pixels off); the screen is in " << testing::TempDir()
           << name << "-got.ppm";
}

// The picture comes to change over ten frames (turning), or to hold over
// them: the slowest turn, a step of 4096 a frame, shows only over several.
bool turns(bool turning)
{
    Frame a = grab();
    return eventually([&] {
        waitFrames(10);
        Frame b = grab();
        std::swap(a, b);
        return (a == b) != turning;
    });
}

// How wide the lit pixels of row y spread (as litBox counts them: over 24 in
// some channel), and where they lie on average.
int litWidthAt(const Frame &f, int y, double *centre = nullptr)
{
    int first = -1, last = -1, count = 0;
    double sum = 0;
    for (int x = 0; y >= 0 && y < f.height && x < f.width; x++) {
        const uint32_t p = f.at(x, y);
        if ((p >> 16 & 255) > 24 || (p >> 8 & 255) > 24 || (p & 255) > 24)
            first = first < 0 ? x : first, last = x, sum += x, count++;
    }
    if (centre)
        *centre = count ? sum / count : f.width / 2.0;
    return count ? last - first + 1 : 0;
}

// Having turned from the settled picture, the picture shows which way. Right
// of the centre the lattice turns about z and y alike, counter-clockwise on
// the screen while its right side swings away: seen whole, its top right
// corner rises above the rest of the top edge. Below the centre it turns
// about x, its top coming nearer and its bottom going away: in perspective
// both its top and bottom edges go down the screen.
void expectTurnShown(const Frame &before, bool right)
{
    const Box was = litBox(before);
    const double wasMiddle = right ? (was.left + was.right) / 2.0 : (was.top + was.bottom) / 2.0;
    double shift = 0;
    EXPECT_TRUE(eventually(
        [&] {
            const Frame f = grab();
            const Box b = litBox(f);
            if (right)
                litWidthAt(f, b.top, &shift);
            else
                shift = (b.top + b.bottom) / 2.0;
            shift -= wasMiddle;
            return std::abs(shift) > widthOf(was) / (right ? 8.0 : 40.0);
        },
        60))
        << "no turn seen";
    EXPECT_GT(shift, 0) << (right ? "the top left corner rose: turned clockwise"
                                  : "the lattice went up: its bottom came nearer");
}

double seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// How many repeats SDL gives a key held over frames at these times: it
// looks at the key once a frame, resets its clock once the delay is past,
// and repeats once per interval after that.
int repeatsWith(const std::vector<double> &frames, double delay, double interval)
{
    int repeats = 0;
    bool first = true;
    double stamp = frames.empty() ? 0 : frames.front();
    for (double t : frames)
        if (t - stamp > (first ? delay : interval))
            repeats += !first, first = false, stamp = t;
    return repeats;
}

// Judged against the frames the program shows meanwhile, as the test reads
// them, each at most one of its own polls late: how many repeats SDL's
// 100 ms and 30 ms give at least, and how many a wrong delay (none within
// 0.8 s) or interval (300 ms) give at most. Where the frames come too slowly
// to tell the two apart, the count is not judged, and the test says so by
// ending skipped rather than passed.
void expectRepeats()
{
    std::ostringstream unjudged;
    int before = stepsBeyondFifty(settled());
    for (double held : {0.8, 2.0}) {
        long seen = framesShown();
        std::vector<double> frames;
        double late = 0.005, polled = seconds();
        key("Down", true);
        const double down = seconds();
        for (; seconds() < down + held; pause(0.005)) {
            late = std::max(late, seconds() - polled), polled = seconds();
            for (const long n = framesShown(); seen < n; seen++)
                frames.push_back(polled);
        }
        key("Down", false);
        // The program has seen the release by its next frame.
        for (const long n = framesShown(); framesShown() == n && seconds() < down + 30;)
            pause(0.005);
        const double seenHeld = seconds() - down;
        const int repeats = stepsBeyondFifty(settled()) - before - 1;
        before += repeats + 1;
        // Frames read so soon after the press may have been drawn before it.
        std::vector<double> pressed;
        for (double t : frames)
            if (t > down + late)
                pressed.push_back(t);
        const int least = repeatsWith(pressed, 0.1 + late, 0.03 + late) - 2;
        const int most = held < 1 ? (seenHeld < 1.0 ? 0 : INT_MAX)
                                  : repeatsWith(frames, 0.1 - late, 0.3 - late) + 1;
        if (least <= most) {
            unjudged << "held " << held << " s: " << frames.size() << " frames, too few to judge; ";
            continue;
        }
        EXPECT_GE(repeats, least) << "held " << held << " s, " << frames.size() << " frames";
    }
    if (!unjudged.str().empty())
        GTEST_SKIP() << unjudged.str() << "the key repeat's timing went unchecked";
}

// The path of the library the program maps whose name has this in it, or "".
std::string mapped(pid_t pid, const std::string &name)
{
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    for (std::string line; std::getline(maps, line);) {
        const std::string path = line.substr(std::min(line.find('/'), line.size()));
        if (path.find(name) != std::string::npos)
            return path;
    }
    return "";
}

std::string canonical(const std::string &path)
{
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : path;
}

// A run proves nothing about a runtime unless the program really maps it:
// the selected folder's library, and SDL2 exactly when it is the
// compatibility library, which works through it.
void expectSelectedRuntime(pid_t pid)
{
    std::string folder;
    for (const std::string &v : selectedEnv())
        if (v.rfind("LD_LIBRARY_PATH=", 0) == 0)
            folder = v.substr(16);
    const std::string sdl12 = mapped(pid, "/libSDL-1.2.so"), sdl2 = mapped(pid, "/libSDL2-2.0.so");
    ASSERT_NE(sdl12, "") << "no SDL 1.2 library mapped";
    if (!folder.empty()) {
        EXPECT_EQ(canonical(sdl12).rfind(canonical(folder) + "/", 0), 0u) << sdl12;
    }
    EXPECT_EQ(sdl2 != "", std::string(folder.empty() ? GLOWLATTICE_SYSTEM_SDL : GLOWLATTICE_OTHER_SDL) == "compat")
        << sdl12 << " with SDL2 at '" << sdl2 << "'";
}

// The lit part of the screen is the picture's own rectangle, the lattice
// filling the display: in the middle, 4:3, at the mode's size or scaled to
// the screen's height.
void expectCentred()
{
    Box b;
    int w = 0, h = 0;
    EXPECT_TRUE(eventually([&] {
        const Frame f = grab();
        b = litBox(f), w = widthOf(b), h = b.bottom - b.top + 1;
        return std::abs(b.left + b.right + 1 - f.width) <= 4 &&
               std::abs(b.top + b.bottom + 1 - f.height) <= 4 && std::abs(w * 3 - h * 4) <= 16 &&
               (std::abs(w - 800) <= 2 || std::abs(h - f.height) <= 2);
    })) << "lit from (" << b.left << ", " << b.top << ") to (" << b.right << ", " << b.bottom << ")";
}

// One step of a case's script (Case says what each does).
void runStep(const std::string &step, const Program &run, Frame &still)
{
    int n = 1, x, y;
    char name[32];
    if (step[0] == '=') {
        ASSERT_TRUE(looksLike(step.substr(1)));
    } else if (sscanf(step.c_str(), "@%d,%d", &x, &y) == 2) {
        pointerTo(x, y);
    } else if (sscanf(step.c_str(), "box-%d", &n) == 1) {
        const Box want = projectedLattice(zoomAfter(-n));
        Box b;
        EXPECT_TRUE(eventually([&] {
            b = litBox(grab());
            return std::abs(b.left - want.left) <= 2 && std::abs(b.top - want.top) <= 2 &&
                   std::abs(b.right - want.right) <= 2 && std::abs(b.bottom - want.bottom) <= 2;
        })) << "lit (" << b.left << ", " << b.top << ")-(" << b.right << ", " << b.bottom
            << "), want (" << want.left << ", " << want.top << ")-(" << want.right << ", "
            << want.bottom << ")";
    } else if (step == "settle") {
        still = settled();
    } else if (step == "changed") {
        ASSERT_TRUE(eventually([&] { return !(grab() == still); }));
    } else if (step == "same") {
        EXPECT_TRUE(settled() == still);
    } else if (step == "still" || step == "turns") {
        EXPECT_TRUE(turns(step == "turns")) << step;
    } else if (step == "right" || step == "down") {
        expectTurnShown(still, step == "right");
    } else if (step == "narrower" || step == "wider") {
        const int before = widthOf(litBox(still));
        int w = before;
        EXPECT_TRUE(eventually([&] {
            w = widthOf(litBox(grab()));
            return step == "wider" ? w > before : w < before * 3 / 4;
        })) << step << ": lit " << w << " pixels wide, " << before << " before";
    } else if (step == "repeats") {
        expectRepeats();
    } else if (step == "hidden") {
        EXPECT_TRUE(eventually([] { return !pointerShown(); }));
    } else if (step == "runtime") {
        expectSelectedRuntime(run.pid);
    } else if (step == "centred") {
        expectCentred();
    } else if (step == "close") {
        ASSERT_TRUE(sendWindowClose()) << "no window takes WM_DELETE_WINDOW";
    } else if (step == "TERM") {
        kill(run.pid, SIGTERM);
    } else if (step == "drop") {
        ASSERT_TRUE(dropConnection()) << "no window of the program's";
    } else if (step.rfind("press:", 0) == 0 || step.rfind("release:", 0) == 0) {
        key(step.substr(step.find(':') + 1), step[0] == 'p');
    } else if (sscanf(step.c_str(), "button%d", &n) == 1) {
        click(n);
    } else if (sscanf(step.c_str(), "%31[^*]*%d", name, &n) >= 1) {
        tap(name, n);
    }
}

class E2e : public testing::TestWithParam<Case>
{
};

TEST_P(E2e, Run)
{
    const Case &c = GetParam();
    Scratch s;
    const std::string sprite = c.sprite;
    if (sprite == "/") {
        ASSERT_EQ(mkdir(s.sprite().c_str(), 0755), 0);
    } else if (!sprite.empty()) {
        std::ofstream(s.sprite(), std::ios::binary)
            << std::ifstream(GLOWLATTICE_TEST_DATA "/" + sprite, std::ios::binary).rdbuf();
    }
    std::istringstream script(c.script);
    Program run = *c.script ? launchShowing(s.dir, c.env) : launch(s.dir, c.env);
    Frame still;
    for (std::string step; script >> step && !HasFatalFailure();)
        runStep(step, run, still);
    const Outcome end = run.wait(30);
    ASSERT_TRUE(end.exited) << "still running";
    EXPECT_TRUE(c.status == nonZero ? end.status != 0 : end.status == c.status)
        << "status " << end.status;
    if (!c.stderrPrefix)
        return; // what Xlib prints of a lost connection
    const std::string err = run.err(), prefix = c.stderrPrefix;
    if (prefix.empty()) {
        EXPECT_EQ(err, "");
    } else {
        EXPECT_EQ(err.rfind(prefix, 0), 0u) << err;
        EXPECT_GT(err.size(), prefix.size() + 1) << "SDL's reason is missing";
        EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
    }
    EXPECT_EQ(run.out(), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, E2e, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<Case> &i) { return std::string(i.param.name); });

} // namespace
