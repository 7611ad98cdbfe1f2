// SPDX-License-Identifier: MIT
// Starts an installed launcher from an unrelated folder, as a desktop entry
// would (or from FOLDER, as a double-click on a Windows program would), and
// checks the demo comes up with its sprite and ends on Escape. A command in
// XDRIVE_ENV (Wine, for a Windows build) starts it instead.
//
//   launch_check LAUNCHER [FOLDER]
#include "../../tools/xdrive.h"

#include <X11/keysym.h>

#include <cstdio>
#include <stdexcept>

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3) {
        fprintf(stderr, "usage: launch_check LAUNCHER [FOLDER]\n");
        return 2;
    }
    try {
        useProgram(argv[1]);
        Program demo = launchShowing(argc == 3 ? argv[2] : "/");
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
