#include "xdrive.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace
{

pid_t serverPid = -1;
Display *display = nullptr;
std::string name;
std::vector<pid_t> started;                // programs not yet reaped
std::string logs;                          // folder of the programs' captured output
int launches;                              // programs started so far
std::string program = GLOWLATTICE_PROGRAM; // what launch starts
bool warping;     // the program's SDL re-centres the pointer after each motion
int seenX, seenY; // where the program last saw the pointer, in display pixels
bool builtOnly;   // launch the built program as it is, ignoring XDRIVE_ENV

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

// Our connection first, then the server itself.
void stopServer(int signal)
{
    if (display)
        XCloseDisplay(display);
    display = nullptr;
    if (serverPid > 0) {
        kill(serverPid, signal);
        waitpid(serverPid, nullptr, 0);
    }
    serverPid = -1;
}

void endAll()
{
    for (pid_t pid : started) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    started.clear();
    stopServer(SIGTERM);
    if (!logs.empty())
        removeTree(logs);
    logs.clear();
}

std::string makeTempDir(const char *what)
{
    std::string tmpl = std::string("/tmp/glowlattice-") + what + "-XXXXXX";
    if (!mkdtemp(&tmpl[0]))
        fail("mkdtemp");
    return tmpl;
}

void startServer()
{
    // -displayfd lets the server take the first free display itself, so
    // concurrent suites never race for a number.
    int fds[2];
    if (pipe(fds) != 0)
        fail("pipe");
    serverPid = fork();
    if (serverPid == 0) {
        close(fds[0]);
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "800x600x24", "-nolisten",
               "tcp", "-noreset", "+extension", "GLX", (char *)nullptr);
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty())
        fail("Xvfb did not start (is the xvfb package installed?)");
    name = ":" + number;
    static bool registered = false; // the clean-up at exit is set up once
    if (!registered)
        atexit(endAll);
    registered = true;
    // Wait until the server answers before anything is launched against it.
    for (double until = now() + 20; !display && now() < until; pause(0.05))
        display = XOpenDisplay(name.c_str());
    if (!display)
        fail("Xvfb on " + name + " does not answer");
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

// NAME=value replaces any earlier NAME, so the last setting wins.
void setVar(std::vector<std::string> &vars, const std::string &v)
{
    const std::string key = v.substr(0, v.find('=') + 1);
    vars.erase(std::remove_if(vars.begin(), vars.end(),
                              [&](const std::string &o) { return o.rfind(key, 0) == 0; }),
               vars.end());
    vars.push_back(v);
}

Display *xserver()
{
    if (!display)
        startServer();
    return display;
}

// The X pointer's position on the screen.
void pointerAt(int &x, int &y)
{
    Display *d = xserver();
    Window root, child;
    int wx, wy;
    unsigned mask;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &x, &y, &wx, &wy, &mask);
}

void movePointer(int x, int y)
{
    Display *d = xserver();
    XTestFakeMotionEvent(d, 0, x, y, CurrentTime);
    XSync(d, False);
}

// Waits until the program has put the pointer back at the centre; false if
// it did not within the time given.
bool recentred(double seconds)
{
    int x = -1, y = -1;
    for (const double until = now() + seconds; now() < until; pause(0.02)) {
        pointerAt(x, y);
        if (x == 400 && y == 300)
            return true;
    }
    return false;
}

// The original SDL 1.2 runtime reports the pointer where X has it. The one
// built on SDL2, full screen with the pointer hidden, works in relative mode:
// it moves the X pointer back to the centre after every motion and reports
// its own sum of the motions, and it drops the deltas of the first motion it
// sees. One small move off centre tells the two apart and uses up that first
// motion; either way the program is then left seeing the centre.
void findPointerMode()
{
    movePointer(410, 300);
    warping = recentred(1.0);
    if (!warping)
        movePointer(400, 300);
    seenX = 400;
    seenY = 300;
    pause(0.1);
}

// XDRIVE_ENV's words, read as env(1) reads its arguments: NAME=value
// settings, then, if any, the command that starts the program instead of
// the built one (a launcher and its arguments, such as Wine and an .exe).
void readSelection(std::vector<std::string> &vars, std::vector<std::string> &command)
{
    std::istringstream in(getenv("XDRIVE_ENV") ? getenv("XDRIVE_ENV") : "");
    for (std::string w; in >> w;)
        (command.empty() && w.find('=') != std::string::npos ? vars : command).push_back(w);
}

} // namespace

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

std::string displayName()
{
    xserver();
    return name;
}

void pause(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

Scratch::Scratch()
{
    dir = makeTempDir("run");
    if (mkdir((dir + "/data").c_str(), 0755) != 0)
        fail("mkdir data");
}

Scratch::~Scratch()
{
    removeTree(dir);
}

Program launch(const std::string &dir, const std::vector<std::string> &env)
{
    const std::string server = displayName();
    Program run;
    if (logs.empty())
        logs = makeTempDir("logs");
    const std::string base = logs + "/" + std::to_string(++launches);
    run.stderrPath = base + ".err";
    run.stdoutPath = base + ".out";
    // The program sees the caller's environment, less anything that would
    // steer SDL, plus the test server and Mesa's software renderer, plus what
    // the test run selects on purpose (selectedEnv), and it is started
    // through the command the run selects, if any.
    std::vector<std::string> vars, selected, command;
    readSelection(selected, command);
    if (builtOnly || command.empty())
        command = {program};
    for (char **e = environ; *e; e++)
        if (strncmp(*e, "SDL_", 4) != 0 && strncmp(*e, "DISPLAY=", 8) != 0 &&
            strncmp(*e, "XDRIVE_ENV=", 11) != 0)
            vars.push_back(*e);
    setVar(vars, "DISPLAY=" + server);
    setVar(vars, "LIBGL_ALWAYS_SOFTWARE=1");
    for (const std::string &v : builtOnly ? std::vector<std::string>() : selected)
        setVar(vars, v);
    for (const std::string &v : env)
        setVar(vars, v);
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
        std::vector<char *> envp;
        for (std::string &v : vars)
            envp.push_back(&v[0]);
        envp.push_back(nullptr);
        std::vector<char *> argv;
        for (std::string &w : command)
            argv.push_back(&w[0]);
        argv.push_back(nullptr);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    started.push_back(run.pid);
    return run;
}

Outcome Program::wait(double seconds)
{
    Outcome result;
    int status = 0;
    const double until = now() + seconds;
    while (waitpid(pid, &status, WNOHANG) != pid) {
        if (now() > until) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            forget(pid);
            return result;
        }
        pause(0.02);
    }
    forget(pid);
    result.exited = true;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
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

Program launchShowing(const std::string &dir, const std::vector<std::string> &env)
{
    for (int attempt = 1;; attempt++) {
        Program run = launch(dir, env);
        bool refused = false;
        for (const double until = now() + 60; !refused && !anyLit(grab()); pause(0.05)) {
            int status;
            if (waitpid(run.pid, &status, WNOHANG) == run.pid) {
                forget(run.pid);
                refused = attempt < 3 && WIFEXITED(status) && WEXITSTATUS(status) == 1 &&
                          refusedByServer(run.err());
                if (!refused)
                    fail("program ended before drawing anything; stderr: " + run.err());
            } else if (now() > until) {
                fail("program drew nothing in 60 s"); // it is killed at exit
            }
        }
        if (!refused) {
            findPointerMode();
            return run;
        }
        // The server was busy: launch again.
    }
}

Program launchBuiltShowing(const std::string &dir, const std::vector<std::string> &env)
{
    builtOnly = true;
    try {
        Program run = launchShowing(dir, env);
        builtOnly = false;
        return run;
    } catch (...) {
        builtOnly = false;
        throw;
    }
}

bool showsOrEnds(Program &run, Outcome *end, double seconds)
{
    for (const double until = now() + seconds; !anyLit(grab()); pause(0.05)) {
        int status;
        if (waitpid(run.pid, &status, WNOHANG) == run.pid) {
            forget(run.pid);
            end->exited = true;
            end->status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            return false;
        }
        if (now() > until) {
            *end = run.wait(0);
            return false;
        }
    }
    return true;
}

void killServer()
{
    stopServer(SIGKILL);
}

Frame grab()
{
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
    for (double until = now() + 20; now() < until;) {
        pause(0.3);
        Frame next = grab();
        if (next == last)
            return next;
        last = next;
    }
    return last;
}

void pointerTo(int x, int y)
{
    if (warping) {
        // Moves from the centre become the program's motions; wait for the
        // re-centring so that the next move starts from there too.
        movePointer(400 + x - seenX, 300 + y - seenY);
        if (x != seenX || y != seenY)
            recentred(5.0);
    } else {
        movePointer(x, y);
    }
    seenX = x;
    seenY = y;
}

void tap(unsigned long keysym, int times)
{
    Display *d = xserver();
    KeyCode code = XKeysymToKeycode(d, keysym);
    // SDL takes a release and a press that share a timestamp for the X
    // server's own auto-repeat and drops them, so the taps are spaced out.
    for (int n = 0; n < times; n++) {
        XTestFakeKeyEvent(d, code, True, CurrentTime);
        XSync(d, False);
        pause(0.01);
        XTestFakeKeyEvent(d, code, False, CurrentTime);
        XSync(d, False);
        pause(0.01);
    }
}

void click(unsigned button)
{
    Display *d = xserver();
    XTestFakeButtonEvent(d, button, True, CurrentTime);
    XTestFakeButtonEvent(d, button, False, CurrentTime);
    XSync(d, False);
}

bool sendWindowClose()
{
    Display *d = xserver();
    Atom protocols = XInternAtom(d, "WM_PROTOCOLS", False);
    Atom del = XInternAtom(d, "WM_DELETE_WINDOW", False);
    Window root = DefaultRootWindow(d), parent, *children = nullptr;
    unsigned count = 0;
    XQueryTree(d, root, &root, &parent, &children, &count);
    bool sent = false;
    // From the top of the stacking order down, as a person would click:
    // under Wine the program's own window is above Wine's hidden ones.
    for (unsigned n = count; n-- > 0 && !sent;) {
        Atom *list = nullptr;
        int listed = 0;
        if (!XGetWMProtocols(d, children[n], &list, &listed))
            continue;
        for (int p = 0; p < listed; p++)
            if (list[p] == del) {
                XEvent e = {};
                e.xclient.type = ClientMessage;
                e.xclient.window = children[n];
                e.xclient.message_type = protocols;
                e.xclient.format = 32;
                e.xclient.data.l[0] = (long)del;
                e.xclient.data.l[1] = CurrentTime;
                XSendEvent(d, children[n], False, NoEventMask, &e);
                sent = true;
            }
        XFree(list);
    }
    if (children)
        XFree(children);
    XSync(d, False);
    return sent;
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

double meanBrightness(const Frame &f, Box b)
{
    double sum = 0;
    int n = 0;
    for (int y = b.top; y <= b.bottom; y++)
        for (int x = b.left; x <= b.right; x++, n++) {
            uint32_t p = f.at(x, y);
            sum += (p >> 16 & 255) + (p >> 8 & 255) + (p & 255);
        }
    return n ? sum / (3.0 * n) : 0;
}

void saveFrame(const Frame &f, const std::string &path)
{
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << f.width << " " << f.height << "\n255\n";
    for (uint32_t p : f.pixels)
        out << (char)(p >> 16) << (char)(p >> 8) << (char)p;
}
