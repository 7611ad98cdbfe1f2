// SPDX-License-Identifier: MIT
// Drives the real program as a person would, on the desktop of the test
// run's session (session.sh, started by a CTest fixture): input through libxdo
// or the compositor's virtual devices, pictures read back from the screen,
// exit statuses and standard error collected. The end-to-end tests, the
// package's launch check and the screenshot tool use it. (Xlib stays out of
// this header: its macros clash with GoogleTest's names.)
#ifndef GLOWLATTICE_XDRIVE_H
#define GLOWLATTICE_XDRIVE_H

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
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

// A scratch working directory holding data/.
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
    std::string logs; // its standard output and error: logs + ".out", ".err"
    Outcome wait(double seconds); // kills the program if it is still running then
    std::string err() const;
    std::string out() const;
};

// The desktop: XDRIVE_SESSION=DIR among XDRIVE_ENV's words names the
// session's folder; without one, the X server in DISPLAY. XDRIVE_ENV (one
// variable, so that ctest can set it) also gives every program what the test
// run selects on purpose, as env(1) reads its arguments: NAME=value words,
// then, if any, the command that starts the program instead of the built one
// ("WINEPREFIX=... /usr/lib/wine/wine64 start /exec x.exe"). selectedEnv
// gives the words.
std::vector<std::string> selectedEnv();

// Starts the program with dir as its working directory and extra "NAME=value"
// settings, the pointer resting at the middle of the screen.
Program launch(const std::string &dir, const std::vector<std::string> &env = {});
// The same, then waits for its first picture. Launches again only when the X
// server refused the connection (an environment failure under load).
Program launchShowing(const std::string &dir, const std::vector<std::string> &env = {});

Frame grab();
// Frames the program has put on the X server's screen so far; and a wait for
// count more of them (on a compositor, which does not count them, a second).
long framesShown();
void waitFrames(int count);
// Waits until check() holds, or gives up: after seconds (stretched by
// XDRIVE_PATIENCE) and, where frames are counted, not before the program has
// shown ten a second's worth of them too, so that a machine drawing slowly
// under load gets as many tries; always after ten times that long.
bool eventually(const std::function<bool()> &check, double seconds = 20);
Frame settled(); // a picture that stays the same over ten frames

// Where the program is to see the pointer next, in its 800 x 600 display,
// moved relatively, as a mouse moves it, from where it last saw it.
void pointerTo(int x, int y);
// name: an X keysym's name ("Down"); held: seconds down.
void key(const std::string &name, bool down);
void tap(const std::string &name, int times = 1, double held = 0.01);
void click(unsigned button);
bool pointerShown();     // the current cursor has a visible pixel
bool sendWindowClose();  // a window manager's close request to the program
bool dropConnection();   // the X server closes the program's connection
void pause(double seconds);

// A binary PPM, for looking at what a failing check saw; and one that a
// shell command prints (no pixels if it prints none).
void saveFrame(const Frame &f, const std::string &path);
Frame readPpm(const std::string &command);

Box litBox(const Frame &f, int threshold = 24);

#endif
