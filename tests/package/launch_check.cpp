// SPDX-License-Identifier: MIT
// Starts an installed launcher from an unrelated folder, as a desktop entry
// would (or from FOLDER, as a double-click on a Windows program would), and
// checks the demo comes up with its sprite, lit in the middle of the screen
// (the lattice rests facing the viewer), and ends on Escape. A command in
// XDRIVE_ENV (Wine, for a Windows build) starts it instead.
//
//   launch_check LAUNCHER [FOLDER]
#include "xdrive.h"


#include <cstdio>
#include <cstdlib>
#include <stdexcept>

// Where the light of the picture is centred, weighted by brightness: the
// resting lattice fills the screen edge to edge, so its lit box alone would
// say nothing about where it sits. False when nothing is lit.
static bool brightnessCentre(const Frame &f, double *x, double *y)
{
    double sum = 0, sx = 0, sy = 0;
    for (int row = 0; row < f.height; row++)
        for (int col = 0; col < f.width; col++) {
            const uint32_t p = f.at(col, row);
            const double light = (p >> 16 & 255) + (p >> 8 & 255) + (p & 255);
            sum += light, sx += light * (col + 0.5), sy += light * (row + 0.5);
        }
    *x = sum ? sx / sum : 0;
    *y = sum ? sy / sum : 0;
    return sum > 0;
}

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3) {
        fprintf(stderr, "usage: launch_check LAUNCHER [FOLDER]\n");
        return 2;
    }
    try {
        useProgram(argv[1]);
        Program demo = launchShowing(argc == 3 ? argv[2] : "/");
        const Frame shown = settled();
        // At rest its light was seen 4 px left of the middle at 800 x 600:
        // within a fiftieth of the screen each way.
        double x, y;
        const bool lit = brightnessCentre(shown, &x, &y);
        if (!lit || std::abs(x - shown.width / 2.0) > shown.width / 50.0 ||
            std::abs(y - shown.height / 2.0) > shown.height / 50.0) {
            fprintf(stderr, "launch_check: light centred at (%.1f, %.1f) on %d x %d\n", x, y,
                    shown.width, shown.height);
            return 1;
        }
        tap("Escape");
        Outcome end = demo.wait(20);
        if (!end.exited || end.status != 0 || !demo.err().empty()) {
            fprintf(stderr, "launch_check: status %d, stderr: %s\n", end.status,
                    demo.err().c_str());
            return 1;
        }
    } catch (const std::exception &e) {
        fprintf(stderr, "launch_check: %s\n", e.what());
        return 1;
    }
    printf("launch_check: picture shown, centred; Escape gave status 0\n");
    return 0;
}
