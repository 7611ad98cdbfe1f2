// The program left running under random pointer motion and key presses: it
// must stay alive, keep its resident set flat and still end with status 0 on
// Escape. About a minute by default; GLOWLATTICE_SOAK_SECONDS (a setting of
// this test, not of the program) runs it longer.
#include "../../tools/bmpwrite.h"
#include "../../tools/xdrive.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

namespace
{

// Resident set in kB, or -1 once the process has ended (gone or a zombie).
long residentKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    long rss = -1;
    while (std::getline(status, line)) {
        if (line.rfind("State:", 0) == 0 && line.find('Z') != std::string::npos)
            return -1;
        if (line.rfind("VmRSS:", 0) == 0)
            rss = std::atol(line.c_str() + 6);
    }
    return rss;
}

double soakSeconds()
{
    const char *s = std::getenv("GLOWLATTICE_SOAK_SECONDS");
    return s ? std::atof(s) : 60.0;
}

TEST(Soak, RandomInputKeepsItAliveAndFlat)
{
    Scratch s;
    std::vector<Rgb> pixels(32 * 32, Rgb{255, 255, 255});
    ASSERT_TRUE(writeBmp(s.sprite().c_str(), 32, 32, pixels));
    Program run = launchShowing(s.dir);

    const unsigned seed = (unsigned)std::random_device()();
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    const unsigned long others[] = {XK_a, XK_space, XK_Left, XK_Right, XK_Return, XK_Page_Down};
    std::vector<long> samples; // resident set, kB, one every half second or so
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    auto lastSample = start;
    const double total = soakSeconds();
    while (std::chrono::duration<double>(clock::now() - start).count() < total) {
        const unsigned pick = random() % 10;
        if (pick < 6)
            pointerTo((int)(random() % 800), (int)(random() % 600));
        else if (pick < 9)
            tap(random() % 2 ? XK_Up : XK_Down, 1 + (int)(random() % 4));
        else
            tap(others[random() % 6]);
        pause(0.02 * (random() % 5));
        if (clock::now() - lastSample > std::chrono::milliseconds(500)) {
            lastSample = clock::now();
            const long rss = residentKb(run.pid);
            ASSERT_GT(rss, 0) << "the program ended during the soak; stderr: " << run.err();
            samples.push_back(rss);
        }
    }
    ASSERT_GE(samples.size(), 8u);
    // After the first quarter (the driver's caches and the first frames
    // settle), the last quarter may not climb past the second by more than
    // a little noise.
    const size_t q = samples.size() / 4;
    const long warm = *std::max_element(samples.begin() + q, samples.begin() + 2 * q);
    const long late = *std::max_element(samples.end() - q, samples.end());
    printf("soak: %.0f s, %zu samples, resident set %ld kB warm, %ld kB at the end\n", total,
           samples.size(), warm, late);
    EXPECT_LE(late, warm + warm / 20 + 4096)
        << "resident set grew: " << warm << " kB to " << late << " kB";
    tap(XK_Escape);
    Outcome e = run.wait(30);
    ASSERT_TRUE(e.exited) << "still running after Escape";
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(run.err(), "");
}

} // namespace
