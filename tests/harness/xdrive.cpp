// SPDX-License-Identifier: MIT
#include "xdrive.h"

#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
extern "C" {
#include <xdo.h>
}

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <grp.h>
#include <map>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace
{

// The session's NAME=value settings (DISPLAY; a compositor's also SHOT,
// INPUT, CLOSE and what its clients need), read on first use.
std::map<std::string, std::string> session;
Display *display = nullptr;
xdo_t *driver = nullptr; // libxdo, on the same connection
Damage damage = 0;           // the screen's, for counting frames
int damageEvents;            // the Damage extension's first event number
long frames;                 // full pictures put on the screen so far
std::vector<pid_t> started;  // programs not yet reaped
std::string logs;            // folder of the programs' captured output
int launches;                // programs started so far
const std::string program = GLOWLATTICE_PROGRAM; // what launch starts
int seenX, seenY; // where the program last saw the pointer, in display pixels
pid_t inputPid = -1; // the compositor's input client, and the socket to it
int inputFd = -1;

void fail(const std::string &what)
{
    throw std::runtime_error(what);
}

double now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void removeTree(const std::string &path)
{
    if (system(("rm -rf '" + path + "'").c_str()) != 0)
        fprintf(stderr, "could not remove %s\n", path.c_str());
}

void endAll()
{
    for (pid_t pid : started) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    if (inputPid > 0) {
        close(inputFd);
        kill(inputPid, SIGTERM);
        waitpid(inputPid, nullptr, 0);
    }
    if (!logs.empty())
        removeTree(logs);
}
const int endsAllAtExit = atexit(endAll);

std::string makeTempDir(const char *what)
{
    std::string tmpl = std::string("/tmp/glowlattice-") + what + "-XXXXXX";
    if (!mkdtemp(&tmpl[0]))
        fail("mkdtemp");
    return tmpl;
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// XDRIVE_ENV's words: NAME=value settings, then, if any, the command that
// starts the program; XDRIVE_SESSION=DIR is the harness's own.
void readSelection(std::vector<std::string> &vars, std::vector<std::string> &command,
                   std::string *folder = nullptr)
{
    std::istringstream in(getenv("XDRIVE_ENV") ? getenv("XDRIVE_ENV") : "");
    for (std::string w; in >> w;)
        if (command.empty() && w.rfind("XDRIVE_SESSION=", 0) == 0) {
            if (folder)
                *folder = w.substr(15);
        } else {
            (command.empty() && w.find('=') != std::string::npos ? vars : command).push_back(w);
        }
}

std::map<std::string, std::string> &desktop()
{
    if (!session.empty())
        return session;
    std::vector<std::string> vars, command;
    std::string folder;
    readSelection(vars, command, &folder);
    std::ifstream in(folder + "/session");
    for (std::string line; std::getline(in, line);)
        if (line.find('=') != std::string::npos)
            session[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
    if (folder.empty() && getenv("DISPLAY"))
        session["DISPLAY"] = getenv("DISPLAY");
    if (!session.count("DISPLAY"))
        fail(folder.empty() ? "no XDRIVE_SESSION and no DISPLAY"
                            : "no session in " + folder + " (has the fixture's set-up run?)");
    return session;
}

// A Wayland compositor's session rather than an X server.
bool onCompositor()
{
    return desktop().count("SHOT") != 0;
}

// How many times longer than usual every wait for the program lasts, and
// the gap between key taps: XDRIVE_PATIENCE, 1 unless set. A program under
// an emulator draws its frames many times more slowly (tools/cross.sh).
double patience()
{
    const char *factor = getenv("XDRIVE_PATIENCE");
    return factor && atof(factor) > 0 ? atof(factor) : 1.0;
}

Display *xserver()
{
    if (onCompositor())
        fail("no X server of the harness's own on a compositor");
    if (!display) {
        display = XOpenDisplay(desktop()["DISPLAY"].c_str());
        if (!display)
            fail("the X server " + desktop()["DISPLAY"] + " does not answer");
        driver = xdo_new_with_opened_display(display, desktop()["DISPLAY"].c_str(), 0);
    }
    return display;
}

// Hands the session's input client (its INPUT command, started on first
// use; wlinput.cpp's protocol) a command and waits until the compositor
// has it.
void input(const char *format, long a, long b, long c = 0, long d = 0)
{
    int pair[2];
    if (inputPid < 0 && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0) {
        inputPid = fork();
        if (inputPid == 0) {
            dup2(pair[1], 0);
            dup2(pair[1], 1);
            execl("/bin/sh", "sh", "-c", desktop()["INPUT"].c_str(), nullptr);
            _exit(127);
        }
        close(pair[1]);
        inputFd = pair[0];
        const timeval answersWithin = {10, 0}; // or it is stuck: a failure, not a hang
        setsockopt(inputFd, SOL_SOCKET, SO_RCVTIMEO, &answersWithin, sizeof answersWithin);
    }
    char line[100], answer[4] = "";
    const int n = snprintf(line, sizeof line, format, a, b, c, d);
    if (send(inputFd, line, n, MSG_NOSIGNAL) != n || read(inputFd, answer, 3) != 3 ||
        strcmp(answer, "ok\n"))
        fail("the input client did not take: " + std::string(line));
}

// In a launched program's process, before it starts the program: a session
// on the compositor has its runtime folder, and a Wayland client only its
// Wayland display. The compositor will not run as root, and its Xwayland
// lets in only the user it runs as (mutter's through the key in XAUTHORITY).
void joinSession(std::vector<std::string> &command, std::vector<std::string> &vars)
{
    const std::string runtime = session["XDG_RUNTIME_DIR"];
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    if (session.count("XAUTHORITY"))
        setenv("XAUTHORITY", session["XAUTHORITY"].c_str(), 1);
    if (std::count(vars.begin(), vars.end(), "SDL_VIDEODRIVER=wayland")) {
        unsetenv("DISPLAY");
        setenv("WAYLAND_DISPLAY", session["WAYLAND_DISPLAY"].c_str(), 1);
    }
    struct stat owner;
    if (stat(runtime.c_str(), &owner) != 0)
        _exit(126);
    if (getuid() != 0)
        return;
    // That user may not reach the build (a clone under /root): the program
    // and the library folder the run selects are copied into the session's
    // runtime folder, which it owns, and it gets its home there too, where
    // Mesa keeps its shader cache.
    const std::string stage = runtime + "/stage-" + std::to_string(getpid());
    auto copy = [&](std::string &path) {
        const std::string to = stage + path;
        if (system(("mkdir -p '" + to.substr(0, to.rfind('/')) + "' && cp -r '" + path + "' '" +
                    to + "'")
                       .c_str()) != 0)
            _exit(126);
        path = to;
    };
    if (command.size() == 1 && command[0] == program)
        copy(command[0]);
    for (std::string &v : vars)
        if (v.rfind("LD_LIBRARY_PATH=", 0) == 0) {
            std::string folder = v.substr(16);
            copy(folder);
            v = "LD_LIBRARY_PATH=" + folder;
        }
    setenv("HOME", runtime.c_str(), 1);
    const std::string owned =
        std::to_string(owner.st_uid) + ":" + std::to_string(owner.st_gid) + " '" + stage + "'";
    if (system(("chown -R " + owned).c_str()) != 0 || setgroups(0, nullptr) != 0 ||
        setgid(owner.st_gid) != 0 || setuid(owner.st_uid) != 0)
        _exit(126);
}

// Reaps the program if it has ended (or, with block, when it ends).
bool ended(pid_t pid, Outcome *end, bool block = false)
{
    int status = 0;
    if (waitpid(pid, &status, block ? 0 : WNOHANG) != pid)
        return false;
    started.erase(std::remove(started.begin(), started.end(), pid), started.end());
    end->exited = true;
    end->status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return true;
}

// The program's picture: more than a compositor's pointer, which its
// screenshots show where nothing covers it, and not the compositor's bare
// desktop, which lights the whole screen (sway's grey, mutter's blue). The
// program's 4:3 picture is never as wide as a compositor's 16:9 screen.
bool showing(const Frame &f)
{
    const Box b = litBox(f);
    return b.right - b.left >= 100 && b.bottom - b.top >= 100 &&
           !(onCompositor() && b.right - b.left + 1 == f.width);
}

// The topmost window under w that takes WM_DELETE_WINDOW: a top-level one,
// or, under a window manager, the program's window inside its frame. Under
// Wine the program's own window is above hidden ones of Wine's.
Window closable(Display *d, Window w, Atom del)
{
    Window root, parent, *children = nullptr, found = 0;
    unsigned count = 0;
    XQueryTree(d, w, &root, &parent, &children, &count);
    for (unsigned n = count; n-- > 0 && !found;) {
        Atom *list = nullptr;
        int listed = 0;
        if (XGetWMProtocols(d, children[n], &list, &listed)) {
            if (std::find(list, list + listed, del) != list + listed)
                found = children[n];
            XFree(list);
        }
        if (!found)
            found = closable(d, children[n], del);
    }
    if (children)
        XFree(children);
    return found;
}

} // namespace

std::vector<std::string> selectedEnv()
{
    std::vector<std::string> vars, command;
    readSelection(vars, command);
    return vars;
}

void pause(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

Scratch::Scratch()
{
    dir = makeTempDir("run");
    // Open to all: on the compositor the program runs as another user.
    if (chmod(dir.c_str(), 0755) != 0 || mkdir((dir + "/data").c_str(), 0755) != 0)
        fail("mkdir data");
}

Scratch::~Scratch()
{
    removeTree(dir);
}

Program launch(const std::string &dir, const std::vector<std::string> &env)
{
    // A compositor may still show the last program's picture a moment after
    // it has ended: what the new one shows is not to be taken for it. (An X
    // server takes a program's windows away with its connection.)
    if (onCompositor() && !eventually([] { return !showing(grab()); }))
        fail("the screen still shows a picture before the program starts");
    // The pointer rests at the middle of the screen, where the program's
    // display is centred, when the program starts.
    if (onCompositor()) {
        input("a %ld %ld %ld %ld\n", 960, 540, 1920, 1080);
    } else {
        Display *d = xserver();
        xdo_move_mouse(driver, DisplayWidth(d, 0) / 2, DisplayHeight(d, 0) / 2, 0);
        XSync(d, False);
    }
    seenX = 400;
    seenY = 300;
    if (logs.empty())
        logs = makeTempDir("logs");
    Program run;
    run.logs = logs + "/" + std::to_string(++launches);
    run.pid = fork();
    if (run.pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        int out = open((run.logs + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open((run.logs + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (chdir(dir.c_str()) != 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(126);
        // The caller's environment, less anything that would steer SDL, plus
        // the session's display and Mesa's software renderer, plus what the
        // test run selects, then env; started through the command the run
        // selects, if any.
        std::vector<std::string> vars, command, names;
        readSelection(vars, command);
        if (command.empty())
            command = {program};
        vars.insert(vars.end(), env.begin(), env.end());
        for (char **e = environ; *e; e++)
            if (strncmp(*e, "SDL_", 4) == 0)
                names.emplace_back(*e, strcspn(*e, "="));
        for (const std::string &n : names)
            unsetenv(n.c_str());
        unsetenv("XDRIVE_ENV");
        // A desktop session's environment: a private runtime folder, which
        // runtimes that look for a Wayland compositor expect, and only the
        // display under test to show on.
        unsetenv("WAYLAND_DISPLAY");
        const std::string runtime = run.logs + ".run";
        if (mkdir(runtime.c_str(), 0700) != 0)
            _exit(126);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        setenv("DISPLAY", session["DISPLAY"].c_str(), 1);
        setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
        if (session.count("SHOT"))
            joinSession(command, vars);
        for (std::string &v : vars)
            putenv(&v[0]);
        std::vector<char *> argv;
        for (std::string &w : command)
            argv.push_back(&w[0]);
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    started.push_back(run.pid);
    return run;
}

Outcome Program::wait(double seconds)
{
    Outcome result;
    for (const double until = now() + seconds * patience(); !ended(pid, &result); pause(0.02))
        if (now() > until) {
            kill(pid, SIGKILL);
            ended(pid, &result, true);
            return Outcome{};
        }
    return result;
}

std::string Program::err() const
{
    return slurp(logs + ".err");
}

std::string Program::out() const
{
    return slurp(logs + ".out");
}

Program launchShowing(const std::string &dir, const std::vector<std::string> &env)
{
    for (int attempt = 1;; attempt++) {
        Program run = launch(dir, env);
        Outcome end;
        for (const double until = now() + 60 * patience(); !showing(grab()); pause(0.05)) {
            if (ended(run.pid, &end))
                break;
            if (now() > until)
                fail("program drew nothing in " + std::to_string((int)(60 * patience())) + " s");
        }
        if (!end.exited) {
            // Under load sway's Wayland clients sometimes missed a case's
            // first move, as if the motion that gave the new window the
            // pointer went to no one; a motion of nothing goes first.
            if (onCompositor())
                input("m %ld %ld\n", 0, 0);
            return run;
        }
        // What SDL says when the server turned the connection away, as
        // opposed to anything the program itself got wrong: launch again.
        const std::string err = run.err();
        if (attempt == 3 || end.status != 1 ||
            (err != "Video initialization failed: Couldn't open X11 display\n" &&
             err != "Video initialization failed: No available video device\n"))
            fail("program ended before drawing anything; stderr: " + err);
    }
}

Frame readPpm(const std::string &command)
{
    Frame f;
    FILE *in = popen(command.c_str(), "r");
    if (in && fscanf(in, "P6 %d %d 255", &f.width, &f.height) == 2 && fgetc(in) == '\n') {
        std::vector<uint8_t> rgb((size_t)f.width * f.height * 3);
        rgb.resize(fread(rgb.data(), 1, rgb.size(), in));
        for (size_t n = 0; n + 2 < rgb.size(); n += 3)
            f.pixels.push_back((uint32_t)rgb[n] << 16 | rgb[n + 1] << 8 | rgb[n + 2]);
    }
    if (in)
        pclose(in);
    if (f.pixels.size() != (size_t)f.width * f.height)
        f.pixels.clear();
    return f;
}

Frame grab()
{
    if (onCompositor()) {
        // Once in some hundreds of screenshots mutter's screen cast gave no
        // frame within SHOT's 20 s while the program drew on: the desktop's
        // failure, asked once more.
        Frame f = readPpm(desktop()["SHOT"]);
        if (f.pixels.empty())
            f = readPpm(desktop()["SHOT"]);
        if (f.pixels.empty())
            fail("the compositor gave no picture, twice");
        return f;
    }
    Display *d = xserver();
    Window root = DefaultRootWindow(d);
    XWindowAttributes a;
    XGetWindowAttributes(d, root, &a);
    XImage *image = XGetImage(d, root, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    Frame f;
    f.width = a.width;
    f.height = a.height;
    f.pixels.resize((size_t)a.width * a.height);
    for (int y = 0; y < a.height; y++)
        for (int x = 0; x < a.width; x++)
            f.pixels[(size_t)y * a.width + x] = XGetPixel(image, x, y) & 0xFFFFFF;
    XDestroyImage(image);
    return f;
}

void waitFrames(int count)
{
    if (onCompositor())
        return pause(patience());
    const long until = framesShown() + count;
    for (const double end = now() + 10 * patience(); framesShown() < until && now() < end;)
        pause(0.005);
}

bool eventually(const std::function<bool()> &check, double seconds)
{
    const double start = now(), wait = seconds * patience();
    const long frames = onCompositor() ? 0 : framesShown() + (long)(10 * seconds);
    for (;; pause(0.2)) {
        if (check())
            return true;
        const double waited = now() - start;
        if (waited > 10 * wait ||
            (waited > wait && (onCompositor() || framesShown() >= frames)))
            return false;
    }
}

Frame settled()
{
    Frame last = grab(), next;
    eventually([&] {
        waitFrames(10);
        next = grab();
        std::swap(last, next);
        return last == next;
    });
    return last;
}

// Every picture the program shows reaches the X server as one drawing of its
// whole window (Mesa's software renderer puts each finished frame there), a
// damage of the screen at least a quarter of the display mode's size.
long framesShown()
{
    Display *d = xserver();
    if (!damage) {
        int errors;
        if (!XDamageQueryExtension(d, &damageEvents, &errors))
            fail("the X server has no Damage extension");
        damage = XDamageCreate(d, DefaultRootWindow(d), XDamageReportRawRectangles);
    }
    XSync(d, False);
    for (XEvent e; XPending(d);) {
        XNextEvent(d, &e);
        const XRectangle &area = ((XDamageNotifyEvent &)e).area;
        frames += e.type == damageEvents + XDamageNotify && area.width * area.height >= 400 * 300;
    }
    return frames;
}

void pointerTo(int x, int y)
{
    if (onCompositor()) {
        input("m %ld %ld\n", x - seenX, y - seenY);
    } else {
        xdo_move_mouse_relative(driver, x - seenX, y - seenY);
        XSync(display, False);
    }
    seenX = x;
    seenY = y;
}

void key(const std::string &name, bool down)
{
    const long sym = (long)XStringToKeysym(name.c_str());
    if (sym == NoSymbol)
        fail("no key " + name);
    if (onCompositor())
        return input("k %ld %ld\n", sym, down);
    xserver();
    (down ? xdo_send_keysequence_window_down : xdo_send_keysequence_window_up)(
        driver, CURRENTWINDOW, name.c_str(), 0);
    XSync(display, False);
}

void tap(const std::string &name, int times, double held)
{
    // SDL takes a release and a press that share a timestamp for the X
    // server's own auto-repeat and drops them, so the taps are spaced out;
    // and a slow program takes each frame's events at once, into a queue of
    // SDL 1.2's 128 events at most.
    for (int n = 0; n < times; n++) {
        key(name, true);
        pause(held);
        key(name, false);
        pause(0.01 * patience());
    }
}

void click(unsigned button)
{
    xserver();
    xdo_click_window(driver, CURRENTWINDOW, (int)button);
    XSync(display, False);
}

// SDL hides the pointer by giving its window an empty cursor, which the
// screen's pixels never show; X says which cursor is current.
bool pointerShown()
{
    XFixesCursorImage *cursor = XFixesGetCursorImage(xserver());
    bool shown = false;
    for (int n = 0; cursor && n < cursor->width * cursor->height; n++)
        shown = shown || (cursor->pixels[n] >> 24) != 0; // any opaque pixel
    XFree(cursor);
    return shown;
}

// What a window manager sends when a person closes the window; on a
// compositor, its own close.
bool sendWindowClose()
{
    if (onCompositor())
        return system(desktop()["CLOSE"].c_str()) == 0;
    Display *d = xserver();
    Atom del = XInternAtom(d, "WM_DELETE_WINDOW", False);
    const Window w = closable(d, DefaultRootWindow(d), del);
    if (w) {
        XEvent e = {};
        e.xclient = {ClientMessage, 0, False, d, w, XInternAtom(d, "WM_PROTOCOLS", False), 32, {}};
        e.xclient.data.l[0] = (long)del;
        e.xclient.data.l[1] = CurrentTime;
        XSendEvent(d, w, False, NoEventMask, &e);
    }
    XSync(d, False);
    return w != 0;
}

// As when the server goes away under it: the program's connection to it
// ends (XKillClient on its window).
bool dropConnection()
{
    Display *d = xserver();
    const Window w = closable(d, DefaultRootWindow(d), XInternAtom(d, "WM_DELETE_WINDOW", False));
    if (w)
        xdo_kill_window(driver, w);
    XSync(d, False);
    return w != 0;
}

Box litBox(const Frame &f, int threshold)
{
    Box b{f.width, f.height, -1, -1};
    for (int y = 0; y < f.height; y++)
        for (int x = 0; x < f.width; x++) {
            uint32_t p = f.at(x, y);
            if ((int)(p >> 16 & 255) > threshold || (int)(p >> 8 & 255) > threshold ||
                (int)(p & 255) > threshold) {
                b.left = std::min(b.left, x);
                b.top = std::min(b.top, y);
                b.right = std::max(b.right, x);
                b.bottom = std::max(b.bottom, y);
            }
        }
    return b;
}

void saveFrame(const Frame &f, const std::string &path)
{
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << f.width << " " << f.height << "\n255\n";
    for (uint32_t p : f.pixels)
        out << (char)(p >> 16) << (char)(p >> 8) << (char)p;
}
