// SPDX-License-Identifier: MIT
// Takes the README's pictures from the real program, started in the current
// folder (the repository root, for its sprite).
//
// With FRAMES_DIR, first records an animation there (frame000.ppm, ...): the
// pointer drifts off centre and back, so the lattice starts turning, speeds
// up, slows and comes to rest. Then the still: the pointer is held off
// centre for a moment so the lattice has turned, then brought back to the
// centre so the picture holds still while it is read.
//
//   shoot OUT.ppm [FRAMES_DIR]
#include "xdrive.h"


#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace
{

const int frames = 48;        // animation length in frames
const double frameTime = 0.1; // seconds between frames read back

void recordDrift(const std::string &dir)
{
    for (int n = 0; n < frames; n++) {
        // Out and back along a half sine: moderate offsets, as a hand would.
        const double s = std::sin(M_PI * n / (frames - 1));
        pointerTo(400 + (int)std::lround(150 * s), 300 + (int)std::lround(90 * s));
        pause(frameTime);
        char name[32];
        snprintf(name, sizeof name, "/frame%03d.ppm", n);
        saveFrame(grab(), dir + name);
    }
    pointerTo(400, 300);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3) {
        fprintf(stderr, "usage: shoot OUT.ppm [FRAMES_DIR]\n");
        return 2;
    }
    try {
        Program demo = launchShowing(".");
        if (argc == 3)
            recordDrift(argv[2]);
        pointerTo(560, 380);
        pause(2.0);
        pointerTo(400, 300);
        saveFrame(settled(), argv[1]);
        tap("Escape");
        Outcome end = demo.wait(20);
        if (!end.exited || end.status != 0) {
            fprintf(stderr, "shoot: the demo did not end cleanly on Escape\n");
            return 1;
        }
    } catch (const std::exception &e) {
        fprintf(stderr, "shoot: %s\n", e.what());
        return 1;
    }
    return 0;
}
