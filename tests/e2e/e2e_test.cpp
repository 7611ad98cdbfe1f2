// The program as a person meets it: started in a folder, shown on a real X
// server, steered with the pointer and the keys, ended with Escape or a close.
#include "../../tools/bmpcorpus.h"
#include "../../tools/xdrive.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <sys/stat.h>

// Corpus cases are named in test listings, not dumped byte by byte.
void PrintTo(const CorpusCase &c, std::ostream *os)
{
    *os << c.name;
}

namespace
{

const int side = 32; // test sprites: small, power-of-two squares

// White, or with topLeftOnly white only in the top left quarter of the file.
void writeSprite(const Scratch &s, bool topLeftOnly = false)
{
    std::vector<Rgb> pixels(side * side, Rgb{255, 255, 255});
    for (int y = 0; y < side && topLeftOnly; y++)
        for (int x = 0; x < side; x++)
            if (y >= side / 2 || x >= side / 2)
                pixels[y * side + x] = Rgb{0, 0, 0};
    ASSERT_TRUE(writeBmp(s.sprite().c_str(), side, side, pixels));
}

void copyShippedSprite(const Scratch &s)
{
    std::ifstream in(GLOWLATTICE_SPRITE, std::ios::binary);
    std::ofstream out(s.sprite(), std::ios::binary);
    out << in.rdbuf();
}

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

// Input reaches the program a frame or more later, and a frame can take
// a second on a loaded machine (or under the sanitizers): expectations on
// the screen are met within a while, or are failures.
template <class Check> bool eventually(Check check, double seconds = 20)
{
    for (const time_t until = time(nullptr) + (time_t)seconds; !check(); pause(0.2))
        if (time(nullptr) > until)
            return false;
    return true;
}

// The lit part of the screen settles within two pixels of want.
void expectLitNear(Box want)
{
    Box b;
    EXPECT_TRUE(eventually([&] {
        b = litBox(grab());
        return std::abs(b.left - want.left) <= 2 && std::abs(b.top - want.top) <= 2 &&
               std::abs(b.right - want.right) <= 2 && std::abs(b.bottom - want.bottom) <= 2;
    })) << "lit ("
        << b.left << ", " << b.top << ")-(" << b.right << ", " << b.bottom << "), want ("
        << want.left << ", " << want.top << ")-(" << want.right << ", " << want.bottom << ")";
}

struct StartupCase {
    const char *name;
    std::vector<std::string> env;
    enum { shipped, none, notBmp } sprite;
    const char *stderrPrefix; // empty: nothing may be printed
};

void PrintTo(const StartupCase &c, std::ostream *os)
{
    *os << c.name;
}

class Startup : public testing::TestWithParam<StartupCase>
{
};

TEST_P(Startup, FailsWithStatusOneAndItsMessage)
{
    const StartupCase &c = GetParam();
    Scratch s;
    if (c.sprite == StartupCase::shipped)
        copyShippedSprite(s);
    if (c.sprite == StartupCase::notBmp)
        std::ofstream(s.sprite()) << "this is a text file, not a picture\n";
    Program run = launch(s.dir, c.env);
    Outcome e = run.wait(30);
    ASSERT_TRUE(e.exited);
    EXPECT_EQ(e.status, 1);
    const std::string err = run.err();
    if (*c.stderrPrefix) {
        EXPECT_EQ(err.rfind(c.stderrPrefix, 0), 0u) << err;
        EXPECT_GT(err.size(), strlen(c.stderrPrefix) + 1) << "SDL's reason is missing";
        EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
    } else {
        EXPECT_EQ(err, "");
    }
    EXPECT_EQ(run.out(), "");
}

INSTANTIATE_TEST_SUITE_P(Outcomes, Startup,
                         testing::Values(StartupCase{"UnknownVideoDriver",
                                                     {"SDL_VIDEODRIVER=nosuchdriver"},
                                                     StartupCase::shipped,
                                                     "Video initialization failed: "},
                                         StartupCase{"NoOpenGLDriver",
                                                     {"SDL_VIDEODRIVER=dummy"},
                                                     StartupCase::shipped,
                                                     "Video mode set failed: "},
                                         StartupCase{"MissingSprite", {}, StartupCase::none, ""},
                                         StartupCase{"SpriteNotABmp", {}, StartupCase::notBmp, ""}),
                         [](const testing::TestParamInfo<StartupCase> &i) {
                             return std::string(i.param.name);
                         });

class Running : public testing::Test
{
  protected:
    Scratch s;
    Program run;
    void start(bool quarterSprite = false, bool shipped = false)
    {
        if (shipped)
            copyShippedSprite(s);
        else
            writeSprite(s, quarterSprite);
        run = launchShowing(s.dir);
    }
    void expectEndsWithZero()
    {
        Outcome e = run.wait(20);
        ASSERT_TRUE(e.exited) << "still running";
        EXPECT_EQ(e.status, 0);
        EXPECT_EQ(run.err(), "");
        EXPECT_EQ(run.out(), "");
    }
    void escapeEndsWithZero()
    {
        tap(XK_Escape);
        expectEndsWithZero();
    }
    // The picture comes to change over a second (turning) or to hold over
    // one (still).
    bool turns(bool turning)
    {
        Frame a = grab();
        return eventually([&] {
            pause(1.0);
            Frame b = grab();
            std::swap(a, b);
            return (a == b) != turning;
        });
    }
};

TEST_F(Running, EscapeEndsWithZero)
{
    start();
    escapeEndsWithZero();
}

TEST_F(Running, TerminationSignalIsACloseRequest)
{
    start();
    kill(run.pid, SIGTERM);
    expectEndsWithZero();
}

TEST_F(Running, WindowManagerCloseEndsWithZero)
{
    start();
    ASSERT_TRUE(sendWindowClose()) << "no window takes WM_DELETE_WINDOW";
    expectEndsWithZero();
}

TEST_F(Running, OtherKeysAndButtonsChangeNothing)
{
    start();
    Frame before = settled();
    tap(XK_a), tap(XK_space), tap(XK_Left), tap(XK_Return), tap(XK_Page_Up);
    for (unsigned button = 1; button <= 5; button++)
        click(button);
    pause(0.5);
    EXPECT_TRUE(settled() == before);
    escapeEndsWithZero();
}

struct PointerCase {
    const char *name;
    int x, y;
    bool turns;
};

void PrintTo(const PointerCase &c, std::ostream *os)
{
    *os << c.name;
}

class Pointer : public Running, public testing::WithParamInterface<PointerCase>
{
};

// Rates are half the offset from the centre, a tenth of that per frame in
// whole steps: offsets under about 20 pixels turn nothing.
TEST_P(Pointer, SteersTheTurn)
{
    const PointerCase &c = GetParam();
    start();
    pointerTo(c.x, c.y);
    EXPECT_TRUE(turns(c.turns));
    escapeEndsWithZero();
}

INSTANTIATE_TEST_SUITE_P(Positions, Pointer,
                         testing::Values(PointerCase{"Centre", 400, 300, false},
                                         PointerCase{"InsideDeadZone", 391, 309, false},
                                         PointerCase{"JustLeftOfDeadZone", 380, 300, true},
                                         PointerCase{"JustBelowDeadZone", 400, 321, true},
                                         PointerCase{"FarRight", 600, 300, true},
                                         PointerCase{"Corner", 0, 0, true}),
                         [](const testing::TestParamInfo<PointerCase> &i) {
                             return std::string(i.param.name);
                         });

TEST_F(Running, UpAndDownMoveTheLatticeNearerAndFarther)
{
    start();
    settled(); // under Wine the window takes the keyboard a moment after it shows
    float zoom = -25.0f;
    tap(XK_Down, 50);
    for (int n = 0; n < 50; n++)
        zoom -= 0.6f;
    expectLitNear(projectedLattice(zoom));
    tap(XK_Up, 10);
    for (int n = 0; n < 10; n++)
        zoom += 0.6f;
    expectLitNear(projectedLattice(zoom));
    escapeEndsWithZero();
}

// The centre column of the lattice projects onto the middle of the screen,
// every layer concentric; no other square reaches a few pixels above or below
// it. A sprite lit only in its top left quarter must show there lit only
// below and to the left: mirrored top to bottom, not left to right.
TEST_F(Running, SpriteShowsMirroredTopToBottom)
{
    start(true);
    Frame f = settled();
    const double lit = meanBrightness(f, Box{393, 303, 398, 309});
    const double others[] = {meanBrightness(f, Box{393, 291, 398, 297}),
                             meanBrightness(f, Box{402, 291, 407, 297}),
                             meanBrightness(f, Box{402, 303, 407, 309})};
    EXPECT_GT(lit, 100);
    // Thin lines remain elsewhere: with the default repeat wrap, linear
    // filtering blends each square's edges with the opposite ones.
    for (double other : others)
        EXPECT_LT(other, lit / 4) << "lit quarter " << lit << ", another " << other;
    escapeEndsWithZero();
}

// Additive blending of a white sprite adds the tint (97, 70, 200) per layer:
// blue leads, red follows, green trails, until channels saturate.
TEST_F(Running, LitPixelsCarryTheTint)
{
    start(false, true);
    Frame f = settled();
    int lit = 0, unsaturated = 0;
    for (uint32_t p : f.pixels) {
        const int r = p >> 16 & 255, g = p >> 8 & 255, b = p & 255;
        if (r + g + b < 30)
            continue;
        lit++;
        ASSERT_GE(b + 2, r) << std::hex << p;
        ASSERT_GE(r + 2, g) << std::hex << p;
        if (b < 190 && b > 40) {
            unsaturated++;
            ASSERT_NEAR(r / (double)b, 97.0 / 200, 0.06) << std::hex << p;
            ASSERT_NEAR(g / (double)b, 70.0 / 200, 0.06) << std::hex << p;
        }
    }
    EXPECT_GT(lit, 800 * 600 / 4);
    EXPECT_GT(unsaturated, 1000);
    escapeEndsWithZero();
}

// Started another way (the Windows build under Wine), the program shows the
// same picture at rest as the built one on the same screen, on the original
// SDL 1.2 runtime (the system's, or the one unpacked for the tests where the
// system's is the compatibility library). Only the Wine run has it: the
// compatibility library's scaled copy of the picture differs from the
// original's in a few hundred pixels, even at the same size.
TEST_F(Running, StillPictureIsTheBuiltProgramsPicture)
{
    start(false, true);
    const Frame got = settled();
    escapeEndsWithZero();
    std::vector<std::string> original;
    if (*GLOWLATTICE_ORIGINAL_SDL_DIR)
        original.push_back(std::string("LD_LIBRARY_PATH=") + GLOWLATTICE_ORIGINAL_SDL_DIR);
    Program reference = launchBuiltShowing(s.dir, original);
    const Frame want = settled();
    tap(XK_Escape);
    EXPECT_TRUE(reference.wait(20).exited);
    size_t differing = 0;
    for (size_t n = 0; n < want.pixels.size(); n++)
        differing += got.pixels[n] != want.pixels[n];
    if (differing) {
        saveFrame(got, testing::TempDir() + "still-got.ppm");
        saveFrame(want, testing::TempDir() + "still-want.ppm");
    }
    EXPECT_EQ(differing, 0u) << "pixels unlike the built program's";
}

// Every sprite file, however odd, either shows as the same picture does in a
// plain 24-bit file, or ends the program with status 1 and no message.
class SpriteFile : public testing::TestWithParam<CorpusCase>
{
  protected:
    // The settled screen with this sprite, then Escape. The pointer rests
    // at the centre, so the lattice holds still.
    Frame showAndQuit(Program &run)
    {
        Frame f = settled();
        tap(XK_Escape);
        Outcome e = run.wait(20);
        EXPECT_TRUE(e.exited && e.status == 0) << "status " << e.status;
        EXPECT_EQ(run.err(), "");
        return f;
    }
};

TEST_P(SpriteFile, ShowsRightOrEndsWithStatusOne)
{
    const CorpusCase &c = GetParam();
    Scratch s;
    if (c.folder)
        ASSERT_EQ(mkdir(s.sprite().c_str(), 0755), 0);
    else
        std::ofstream(s.sprite(), std::ios::binary)
            .write((const char *)c.bytes.data(), (std::streamsize)c.bytes.size());
    Program run = launch(s.dir);
    Outcome end;
    if (!showsOrEnds(run, &end, 60)) {
        ASSERT_TRUE(end.exited) << "neither drew nor ended";
        EXPECT_NE(c.outcome, CorpusCase::shows) << "refused a picture it must show";
        EXPECT_EQ(end.status, 1);
        EXPECT_EQ(run.err(), "");
        EXPECT_EQ(run.out(), "");
        return;
    }
    ASSERT_NE(c.outcome, CorpusCase::refused) << "showed a file it must refuse";
    const Frame got = showAndQuit(run);

    Scratch plain;
    ASSERT_TRUE(
        writeBmp(plain.sprite().c_str(), c.picture.width, c.picture.height, c.picture.pixels));
    Program reference = launchShowing(plain.dir);
    const Frame want = showAndQuit(reference);
    int worst = 0;
    for (size_t n = 0; n < want.pixels.size(); n++)
        for (int shift : {0, 8, 16})
            worst = std::max(worst, std::abs((int)(got.pixels[n] >> shift & 255) -
                                             (int)(want.pixels[n] >> shift & 255)));
    if (worst > c.tolerance) {
        saveFrame(got, testing::TempDir() + c.name + "-got.ppm");
        saveFrame(want, testing::TempDir() + c.name + "-want.ppm");
    }
    EXPECT_LE(worst, c.tolerance) << "largest channel difference on screen";
}

INSTANTIATE_TEST_SUITE_P(Corpus, SpriteFile, testing::ValuesIn(spriteCorpus()),
                         [](const testing::TestParamInfo<CorpusCase> &i) { return i.param.name; });

// Losing the display mid-run must end the program, not leave it hanging.
TEST_F(Running, XServerGoingAwayEndsWithNonZero)
{
    start();
    killServer();
    Outcome e = run.wait(30);
    ASSERT_TRUE(e.exited) << "still running without its X server";
    EXPECT_NE(e.status, 0);
}

// The suite runs once per SDL 1.2 runtime: the system's, and the other one
// from a library folder the run selects.
std::string selectedFolder()
{
    for (const std::string &v : selectedEnv())
        if (v.rfind("LD_LIBRARY_PATH=", 0) == 0)
            return v.substr(16);
    return "";
}

bool compatRuntime()
{
    return std::string(selectedFolder().empty() ? GLOWLATTICE_SYSTEM_SDL : GLOWLATTICE_OTHER_SDL) ==
           "compat";
}

std::string canonical(const std::string &path)
{
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : path;
}

// A run proves nothing about a runtime unless the program really maps it:
// the selected folder's library, and SDL2 exactly when it is the
// compatibility library, which works through it.
TEST_F(Running, MapsTheSelectedSdlRuntime)
{
    start();
    std::ifstream maps("/proc/" + std::to_string(run.pid) + "/maps");
    std::string line, sdl12, sdl2;
    while (std::getline(maps, line)) {
        const std::string path = line.substr(std::min(line.find('/'), line.size()));
        if (path.find("/libSDL-1.2.so") != std::string::npos)
            sdl12 = path;
        if (path.find("/libSDL2-2.0.so") != std::string::npos)
            sdl2 = path;
    }
    ASSERT_NE(sdl12, "") << "no SDL 1.2 library mapped";
    const std::string folder = selectedFolder();
    if (!folder.empty()) {
        EXPECT_EQ(canonical(sdl12).rfind(canonical(folder) + "/", 0), 0u) << sdl12;
    }
    EXPECT_EQ(sdl2 != "", compatRuntime()) << sdl12 << " with SDL2 at '" << sdl2 << "'";
    escapeEndsWithZero();
}

// A desktop larger than the display mode, with a window manager, as most
// users have. The original runtime shows the picture at its own size in the
// middle and maps the screen's centre to the display's; the compatibility
// library scales it to the screen's height and starts it turning with the
// pointer at rest (docs/runtimes.md).
class Desktop : public Running
{
  protected:
    Desktop()
    {
        useScreen(1920, 1080, true);
    }
};

// The lit part of the screen: the picture's own rectangle, since the lattice
// fills the whole display.
bool wholeAndCentred(const Box &b)
{
    const int width = b.right - b.left + 1, height = b.bottom - b.top + 1;
    return std::abs(b.left + b.right - 1919) <= 4 && std::abs(b.top + b.bottom - 1079) <= 4 &&
           std::abs(width * 3 - height * 4) <= 16 &&
           (std::abs(width - 800) <= 2 || std::abs(height - 1080) <= 2);
}

TEST_F(Desktop, ShowsThePictureWholeAndCentred)
{
    start(false, true);
    // The window manager may resize the window after the first picture.
    Box b;
    EXPECT_TRUE(eventually([&] { return wholeAndCentred(b = litBox(grab())); }))
        << "lit from (" << b.left << ", " << b.top << ") to (" << b.right << ", " << b.bottom
        << ")";
    escapeEndsWithZero();
}

TEST_F(Desktop, PointerSteersTheTurn)
{
    start();
    EXPECT_TRUE(turns(compatRuntime())) << "with the pointer at rest";
    pointerTo(600, 300);
    EXPECT_TRUE(turns(true));
    if (!compatRuntime()) {
        pointerTo(400, 300);
        EXPECT_TRUE(turns(false));
    }
    escapeEndsWithZero();
}

} // namespace
