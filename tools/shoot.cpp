// Takes the README's screenshot from the real program, started in the current
// folder (the repository root, for its sprite): the pointer is held off
// centre for a moment so the lattice has turned, then brought back to the
// centre so the picture holds still while it is read.
//
//   shoot OUT.ppm
#include "xdrive.h"

#include <X11/keysym.h>

#include <cstdio>
#include <stdexcept>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: shoot OUT.ppm\n");
        return 2;
    }
    try {
        Program demo = launchShowing(".");
        pointerTo(560, 380);
        pause(2.0);
        pointerTo(400, 300);
        saveFrame(settled(), argv[1]);
        tap(XK_Escape);
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
