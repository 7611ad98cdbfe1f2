// SPDX-License-Identifier: MIT
// Drives the real program as a person would: its own Xvfb (started on first
// use on a display it picks, and ended with every program started through
// it), input through XTest, pictures read back from the X server, exit
// statuses and standard error collected. The end-to-end tests and the
// screenshot tool use it. (Xlib stays out of this header: its macros clash
// with GoogleTest's names.)
#ifndef GLOWLATTICE_XDRIVE_H
#define GLOWLATTICE_XDRIVE_H

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

struct Frame {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels; // 0x00RRGGBB, row 0 at the top
    uint32_t at(int x, int y) const
    {
        return pixels[(size_t)y * width + x];
    }
    bool operator==(const Frame &o) const
    {
        return pixels == o.pixels;
    }
};

struct Box {
    int left = 0, top = 0, right = -1, bottom = -1; // inclusive pixel bounds
};

struct Outcome {
    bool exited = false; // false: still running when the wait gave up
    int status = -1;     // exit status, or -(signal) if killed by one
};

// A scratch working directory holding data/sprite01.bmp.
struct Scratch {
    std::string dir;
    Scratch();
    ~Scratch();
    std::string sprite() const
    {
        return dir + "/data/sprite01.bmp";
    }
};

struct Program {
    pid_t pid = -1;
    std::string stderrPath;
    std::string stdoutPath;
    Outcome wait(double seconds); // kills the program if it is still running then
    std::string err() const;
    std::string out() const;
};

// The screen of the X server started on first use: 800 x 600 with no window
// manager unless set otherwise before then.
void useScreen(int width, int height, bool windowManager);

// Puts the program from now on on the Wayland desktop of the run's
// compositor session, if it selects one (false if not): a headless sway or
// mutter, started once for the run, which the program reaches through
// Xwayland or, native, as a Wayland client. Input, pictures and the close
// request go through the commands the session names;
// pointerShown, click and killServer have no counterpart there.
bool useCompositor(bool native);

// Starts path instead of the built program from now on (an installed copy).
void useProgram(const std::string &path);

// Starts the program with dir as its working directory and the given extra environment
// ("NAME=value").
Program launch(const std::string &dir, const std::vector<std::string> &env = {});

// What the test run gives every program on purpose, for instance which SDL
// runtime to load: the space-separated NAME=value words of the caller's
// XDRIVE_ENV (a single variable, so that ctest can set it). Words after
// those, if any, are the command that starts the program instead of the
// built one, as with env(1): "WINEPREFIX=... /usr/lib/wine/wine64 x.exe".
// XDRIVE_COMPOSITOR=DIR is the harness's own: the compositor session's
// folder (tests/wayland/session.sh), for useCompositor.
std::vector<std::string> selectedEnv();

// Starts the program and waits for its first picture. Retries only when the
// X server refused the connection (an environment failure under load).
Program launchShowing(const std::string &dir, const std::vector<std::string> &env = {});

// Ends the X server under a running program; the next use starts a new one.
void killServer();

Frame grab();
Frame settled(); // a frame that stays the same over a few frame times
// Where the program is to see the pointer next, in its 800 x 600 display,
// moving from where it last saw it (the centre at launch).
void pointerTo(int x, int y);
void tap(unsigned long keysym, int times = 1, double held = 0.01); // held: seconds down
bool pointerShown(); // the current cursor has a visible pixel
void click(unsigned button);
bool sendWindowClose(); // a window manager's close message to the program
void pause(double seconds);

// How many times longer than usual every wait for the program lasts, and
// the gap between key taps: XDRIVE_PATIENCE, 1 unless set. A program under
// an emulator draws its frames many times more slowly (tools/cross.sh).
double patience();

// A binary PPM, for looking at what a failing check saw.
void saveFrame(const Frame &f, const std::string &path);

Box litBox(const Frame &f, int threshold = 24);

#endif
