// Starts an installed launcher from an unrelated folder, as a desktop entry
// would, and checks the demo comes up with its sprite and ends on Escape.
//
//   launch_check LAUNCHER
#include "../../tools/xdrive.h"

#include <X11/keysym.h>

#include <cstdio>
#include <stdexcept>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: launch_check LAUNCHER\n");
        return 2;
    }
    try {
        useProgram(argv[1]);
        Program demo = launchShowing("/");
        tap(XK_Escape);
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
    printf("launch_check: picture shown, Escape gave status 0\n");
    return 0;
}
