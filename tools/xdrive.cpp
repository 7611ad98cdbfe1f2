// SPDX-License-Identifier: MIT
#include "xdrive.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
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

pid_t serverPid = -1;
pid_t managerPid = -1; // the window manager, when the screen has one
Display *display = nullptr;
std::string name;
std::vector<pid_t> started;                // programs not yet reaped
std::string logs;                          // folder of the programs' captured output
std::string runtimeDir;                    // the programs' XDG_RUNTIME_DIR, inside logs
int launches;                              // programs started so far
std::string program = GLOWLATTICE_PROGRAM; // what launch starts
int screenWidth = 800, screenHeight = 600; // the next server's screen, in pixels
bool managed;                              // the next server runs a window manager
int seenX, seenY; // where the program last saw the pointer, in display pixels
// The compositor session (useCompositor): its NAME=value settings, empty
// while the programs show on our Xvfb; whether they talk Wayland to it; its
// input client and the socket to it.
std::map<std::string, std::string> compositor;
bool native;
pid_t inputPid = -1;
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

// The program has been reaped: nothing is left to kill at exit.
void forget(pid_t pid)
{
    started.erase(std::remove(started.begin(), started.end(), pid), started.end());
}

void removeTree(const std::string &path)
{
    if (system(("rm -rf '" + path + "'").c_str()) != 0)
        fprintf(stderr, "could not remove %s\n", path.c_str());
}

void stop(pid_t &pid, int signal)
{
    if (pid > 0) {
        kill(pid, signal);
        waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

// Our connection first, then the window manager and the server itself.
void stopServer(int signal)
{
    if (display)
        XCloseDisplay(display);
    display = nullptr;
    stop(managerPid, signal);
    stop(serverPid, signal);
}

void endAll()
{
    for (pid_t pid : started) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    started.clear();
    if (inputPid > 0) {
        close(inputFd);
        stop(inputPid, SIGTERM);
    }
    stopServer(SIGTERM);
    if (!logs.empty())
        removeTree(logs);
    logs.clear();
}
const int endsAllAtExit = atexit(endAll);

std::string makeTempDir(const char *what)
{
    std::string tmpl = std::string("/tmp/glowlattice-") + what + "-XXXXXX";
    if (!mkdtemp(&tmpl[0]))
        fail("mkdtemp");
    return tmpl;
}

// Starts argv with its output discarded and DISPLAY set to our server.
pid_t spawnQuiet(const std::vector<const char *> &argv)
{
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        if (!name.empty())
            setenv("DISPLAY", name.c_str(), 1);
        execvp(argv[0], const_cast<char **>(argv.data()));
        _exit(127);
    }
    return pid;
}

// A desktop's window manager, as a user has one: waits until it has taken
// the screen (it names itself on the root window), so that the program's
// window is managed from the start.
void startManager()
{
    managerPid = spawnQuiet({"openbox", "--sm-disable", nullptr});
    Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    for (const double until = now() + 20; now() < until; pause(0.05)) {
        Atom type;
        int format;
        unsigned long items, left;
        unsigned char *data = nullptr;
        XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, AnyPropertyType,
                           &type, &format, &items, &left, &data);
        if (data)
            return (void)XFree(data);
    }
    fail("openbox did not take the screen (is the openbox package installed?)");
}

void startServer()
{
    // -displayfd lets the server take the first free display itself, so
    // concurrent suites never race for a number.
    int fds[2];
    if (pipe(fds) != 0)
        fail("pipe");
    const std::string fd = std::to_string(fds[1]);
    const std::string screen =
        std::to_string(screenWidth) + "x" + std::to_string(screenHeight) + "x24";
    name.clear();
    serverPid = spawnQuiet({"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
                            "-nolisten", "tcp", "-noreset", "+extension", "GLX", nullptr});
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty())
        fail("Xvfb did not start (is the xvfb package installed?)");
    name = ":" + number;
    // Wait until the server answers before anything is launched against it.
    for (double until = now() + 20; !display && now() < until; pause(0.05))
        display = XOpenDisplay(name.c_str());
    if (!display)
        fail("Xvfb on " + name + " does not answer");
    if (managed)
        startManager();
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool anyLit(const Frame &f)
{
    for (uint32_t p : f.pixels)
        if (p & 0xFFFFFF)
            return true;
    return false;
}

// What SDL says when the server turned the connection away, as opposed to
// anything the program itself got wrong.
bool refusedByServer(const std::string &err)
{
    return err == "Video initialization failed: Couldn't open X11 display\n" ||
           err == "Video initialization failed: No available video device\n";
}

Display *xserver()
{
    if (!display)
        startServer();
    return display;
}

void movePointer(int x, int y)
{
    Display *d = xserver();
    XTestFakeMotionEvent(d, 0, x, y, CurrentTime);
    XSync(d, False);
}

// XDRIVE_ENV's words, read as env(1) reads its arguments: NAME=value
// settings, then, if any, the command that starts the program instead of
// the built one (a launcher and its arguments, such as Wine and an .exe).
// XDRIVE_COMPOSITOR=DIR is left out of them, for useCompositor.
void readSelection(std::vector<std::string> &vars, std::vector<std::string> &command,
                   std::string *session = nullptr)
{
    std::istringstream in(getenv("XDRIVE_ENV") ? getenv("XDRIVE_ENV") : "");
    for (std::string w; in >> w;)
        if (command.empty() && w.rfind("XDRIVE_COMPOSITOR=", 0) == 0) {
            if (session)
                *session = w.substr(18);
        } else {
            (command.empty() && w.find('=') != std::string::npos ? vars : command).push_back(w);
        }
}

// Hands the session's input client (its INPUT command, started on first
// use; tools/wlinput.cpp's protocol) a command and waits until the
// compositor has it.
void input(const char *format, long a, long b, long c = 0, long d = 0)
{
    int pair[2];
    if (inputPid < 0 && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0) {
        inputPid = fork();
        if (inputPid == 0) {
            dup2(pair[1], 0);
            dup2(pair[1], 1);
            execl("/bin/sh", "sh", "-c", compositor["INPUT"].c_str(), nullptr);
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

Frame screenshot()
{
    Frame f;
    FILE *in = popen(compositor["SHOT"].c_str(), "r");
    if (in && fscanf(in, "P6 %d %d 255", &f.width, &f.height) == 2 && fgetc(in) == '\n') {
        std::vector<uint8_t> rgb((size_t)f.width * f.height * 3);
        rgb.resize(fread(rgb.data(), 1, rgb.size(), in));
        for (size_t n = 0; n + 2 < rgb.size(); n += 3)
            f.pixels.push_back((uint32_t)rgb[n] << 16 | rgb[n + 1] << 8 | rgb[n + 2]);
    }
    if (in)
        pclose(in);
    if (f.pixels.empty() || f.pixels.size() != (size_t)f.width * f.height)
        fail("the compositor gave no picture");
    return f;
}

void key(unsigned long keysym, bool down)
{
    if (!compositor.empty())
        return input("k %ld %ld\n", (long)keysym, down);
    Display *d = xserver();
    XTestFakeKeyEvent(d, XKeysymToKeycode(d, keysym), down, CurrentTime);
    XSync(d, False);
}

// In a launched program's process, before it starts the program: a session
// on the compositor has its runtime folder, and a Wayland client only its
// Wayland display. The compositor will not run as root, and its Xwayland
// lets in only the user it runs as (mutter's through the key in XAUTHORITY).
void joinSession(std::vector<std::string> &command, std::vector<std::string> &vars)
{
    const std::string runtime = compositor["XDG_RUNTIME_DIR"];
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    if (compositor.count("XAUTHORITY"))
        setenv("XAUTHORITY", compositor["XAUTHORITY"].c_str(), 1);
    if (native) {
        unsetenv("DISPLAY");
        setenv("WAYLAND_DISPLAY", compositor["WAYLAND_DISPLAY"].c_str(), 1);
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

} // namespace

void useScreen(int width, int height, bool windowManager)
{
    screenWidth = width;
    screenHeight = height;
    managed = windowManager;
}

bool useCompositor(bool nativeClient)
{
    std::vector<std::string> vars, command;
    std::string folder;
    readSelection(vars, command, &folder);
    if (folder.empty())
        return false;
    std::ifstream in(folder + "/session");
    for (std::string line; std::getline(in, line);)
        if (line.find('=') != std::string::npos)
            compositor[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
    if (!compositor.count("DISPLAY"))
        fail("no compositor session in " + folder + " (has the fixture's set-up run?)");
    native = nativeClient;
    return true;
}

void useProgram(const std::string &path)
{
    program = path;
}

std::vector<std::string> selectedEnv()
{
    std::vector<std::string> vars, command;
    readSelection(vars, command);
    return vars;
}

static std::string displayName()
{
    xserver();
    return name;
}

double patience()
{
    const char *factor = getenv("XDRIVE_PATIENCE");
    return factor && atof(factor) > 0 ? atof(factor) : 1.0;
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
    const std::string server = compositor.empty() ? displayName() : compositor["DISPLAY"];
    // The pointer rests at the middle of the screen, where the program's
    // display is centred, when the program starts; from there it is moved
    // only by relative motions (pointerTo).
    if (compositor.empty())
        movePointer(screenWidth / 2, screenHeight / 2);
    else
        input("a %ld %ld %ld %ld\n", screenWidth / 2, screenHeight / 2, screenWidth, screenHeight);
    seenX = 400;
    seenY = 300;
    Program run;
    if (logs.empty()) {
        logs = makeTempDir("logs");
        runtimeDir = logs + "/runtime";
        if (mkdir(runtimeDir.c_str(), 0700) != 0)
            fail("mkdir " + runtimeDir);
    }
    const std::string base = logs + "/" + std::to_string(++launches);
    run.stderrPath = base + ".err";
    run.stdoutPath = base + ".out";
    run.pid = fork();
    if (run.pid == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        int in = open("/dev/null", O_RDONLY);
        int out = open(run.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(run.stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        // The caller's environment, less anything that would steer SDL, plus
        // the test server and Mesa's software renderer, plus what the test
        // run selects on purpose (selectedEnv), then env; started through
        // the command the run selects, if any.
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
        // X server under test to show on.
        unsetenv("WAYLAND_DISPLAY");
        setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
        setenv("DISPLAY", server.c_str(), 1);
        setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
        if (!compositor.empty())
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

// Reaps the program if it has ended (or, with block, when it ends).
bool ended(pid_t pid, Outcome *end, bool block = false)
{
    int status = 0;
    if (waitpid(pid, &status, block ? 0 : WNOHANG) != pid)
        return false;
    forget(pid);
    end->exited = true;
    end->status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return true;
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
    return slurp(stderrPath);
}

std::string Program::out() const
{
    return slurp(stdoutPath);
}

// Waits for the program's first picture (true) or its end (false, with
// *end set); a program still doing neither after the wait is killed.
static bool showsOrEnds(Program &run, Outcome *end, double seconds)
{
    for (const double until = now() + seconds; !anyLit(grab()); pause(0.05)) {
        if (ended(run.pid, end))
            return false;
        if (now() > until) {
            *end = run.wait(0);
            return false;
        }
    }
    return true;
}

Program launchShowing(const std::string &dir, const std::vector<std::string> &env)
{
    for (int attempt = 1;; attempt++) {
        Program run = launch(dir, env);
        Outcome end;
        if (showsOrEnds(run, &end, 60 * patience()))
            return run;
        if (!end.exited)
            fail("program drew nothing in " + std::to_string((int)(60 * patience())) + " s");
        // The server was busy: launch again.
        if (attempt == 3 || end.status != 1 || !refusedByServer(run.err()))
            fail("program ended before drawing anything; stderr: " + run.err());
    }
}

void killServer()
{
    if (!compositor.empty())
        fail("killServer: the compositor is the run's, not the test's");
    stopServer(SIGKILL);
}

Frame grab()
{
    if (!compositor.empty())
        return screenshot();
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

Frame settled()
{
    Frame last = grab();
    for (double until = now() + 20 * patience(); now() < until;) {
        pause(0.3 * patience());
        Frame next = grab();
        if (next == last)
            return next;
        last = next;
    }
    return last;
}

// A relative motion, as a mouse sends it: every SDL 1.2 runtime follows it,
// whether it reports where X has the pointer or, with the pointer hidden,
// its own sum of the motions.
void pointerTo(int x, int y)
{
    if (!compositor.empty()) {
        input("m %ld %ld\n", x - seenX, y - seenY);
    } else {
        Display *d = xserver();
        XTestFakeRelativeMotionEvent(d, x - seenX, y - seenY, CurrentTime);
        XSync(d, False);
    }
    seenX = x;
    seenY = y;
}

void tap(unsigned long keysym, int times, double held)
{
    // SDL takes a release and a press that share a timestamp for the X
    // server's own auto-repeat and drops them, so the taps are spaced out.
    for (int n = 0; n < times; n++) {
        key(keysym, true);
        pause(held);
        key(keysym, false);
        // A slow program takes each frame's events at once, into a queue
        // of SDL 1.2's 128 events at most.
        pause(0.01 * patience());
    }
}

// SDL hides the pointer by giving its window an empty cursor, which the
// screen's pixels never show; X says which cursor is current.
bool pointerShown()
{
    if (!compositor.empty())
        fail("pointerShown: not on the compositor");
    XFixesCursorImage *cursor = XFixesGetCursorImage(xserver());
    bool shown = false;
    for (int n = 0; cursor && n < cursor->width * cursor->height; n++)
        shown = shown || (cursor->pixels[n] >> 24) != 0; // any opaque pixel
    XFree(cursor);
    return shown;
}

void click(unsigned button)
{
    if (!compositor.empty())
        fail("click: not on the compositor");
    Display *d = xserver();
    XTestFakeButtonEvent(d, button, True, CurrentTime);
    XTestFakeButtonEvent(d, button, False, CurrentTime);
    XSync(d, False);
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

// What a window manager sends when a person closes the window.
bool sendWindowClose()
{
    // The compositor's own close, to the focused window: the program's.
    if (!compositor.empty())
        return system(compositor["CLOSE"].c_str()) == 0;
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
