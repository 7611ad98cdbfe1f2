// SPDX-License-Identifier: MIT
// Loaded into the real, unchanged program with LD_PRELOAD to time it from
// the outside: it wraps the library calls that bound each part of a frame.
//   SDL_SetVideoMode returns        the display is open
//   SDL_PollEvent returns 0         the events are drained; calcme starts
//   glClear                         calcme is done; drawing starts
//   SDL_GL_SwapBuffers returns      the frame is presented
// The first poll also hands the program one pointer motion to the position
// in PROBE_POINTER ("600,250" by default), so the spin is fixed from the
// first frame. After PROBE_WARMUP frames it measures PROBE_FRAMES more,
// prints one line to PROBE_OUT (or standard error) and ends the process.
// Under valgrind it brackets the measured frames for callgrind instead.
#include <GL/gl.h>
#include <SDL/SDL.h>
#include <dlfcn.h>
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

namespace
{

double now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

long rssKiB()
{
    FILE *f = fopen("/proc/self/status", "r");
    char line[256];
    long kib = -1;
    while (f && fgets(line, sizeof line, f))
        if (sscanf(line, "VmRSS: %ld", &kib) == 1)
            break;
    if (f)
        fclose(f);
    return kib;
}

long setting(const char *name, long fallback)
{
    const char *v = getenv(name);
    return v ? atol(v) : fallback;
}

template <typename F> F real(const char *name)
{
    return (F)dlsym(RTLD_NEXT, name);
}

double opened, drained, rotating, measureStart; // seconds
double firstFrame = -1;
long frames, warmup, measured, rssStart;
bool motionSent;

void report()
{
    const double wall = now() - measureStart;
    FILE *out = stderr;
    if (const char *path = getenv("PROBE_OUT"))
        out = fopen(path, "w");
    fprintf(out,
            "frames %ld seconds %.4f fps %.3f rotation_share %.5f first_frame_ms %.2f "
            "rss_start_kib %ld rss_end_kib %ld\n",
            measured, wall, measured / wall, rotating / wall, firstFrame * 1e3, rssStart, rssKiB());
    fflush(out);
}

} // namespace

extern "C" SDL_Surface *SDL_SetVideoMode(int w, int h, int bpp, Uint32 flags)
{
    static auto next = real<SDL_Surface *(*)(int, int, int, Uint32)>("SDL_SetVideoMode");
    SDL_Surface *s = next(w, h, bpp, flags);
    opened = now();
    warmup = setting("PROBE_WARMUP", 20);
    measured = setting("PROBE_FRAMES", 200);
    return s;
}

extern "C" int SDL_PollEvent(SDL_Event *event)
{
    static auto next = real<int (*)(SDL_Event *)>("SDL_PollEvent");
    if (!motionSent && event) {
        motionSent = true;
        int x = 600, y = 250;
        if (const char *p = getenv("PROBE_POINTER"))
            sscanf(p, "%d,%d", &x, &y);
        SDL_Event motion = {};
        motion.type = SDL_MOUSEMOTION;
        motion.motion.x = (Uint16)x;
        motion.motion.y = (Uint16)y;
        *event = motion;
        return 1;
    }
    const int got = next(event);
    if (!got)
        drained = now();
    return got;
}

extern "C" void glClear(GLbitfield mask)
{
    static auto next = real<void (*)(GLbitfield)>("glClear");
    if (frames >= warmup)
        rotating += now() - drained;
    next(mask);
}

extern "C" void SDL_GL_SwapBuffers()
{
    static auto next = real<void (*)()>("SDL_GL_SwapBuffers");
    next();
    if (firstFrame < 0)
        firstFrame = now() - opened;
    frames++;
    if (frames == warmup) {
        CALLGRIND_ZERO_STATS;
        CALLGRIND_TOGGLE_COLLECT;
        measureStart = now();
        rotating = 0;
        rssStart = rssKiB();
    }
    if (frames == warmup + measured) {
        CALLGRIND_TOGGLE_COLLECT;
        CALLGRIND_DUMP_STATS;
        report();
        _exit(0);
    }
}
