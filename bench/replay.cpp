// SPDX-License-Identifier: MIT
// The least the driver must do for the program's frames: the same display,
// the same GL state (set up by the program's own initGL), and the identical
// GL call stream per frame, but with every frame's positions computed
// before the clock starts and no events polled. Prints the same line as the
// probe does for the real program, which tools/bench.sh sets side by side.
#include "../src/cloud/cloud.h"
#include "../src/render/render.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

float zoom = -25.0f; // the starting viewing distance, as in the program
int mx;              // the input state the drawing code links against
int my;
int sx = 100; // spin from the pointer at (600, 250), as the probe sets it
int sy = -25;

static double now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

static long setting(const char *name, long fallback)
{
    const char *v = getenv(name);
    return v ? atol(v) : fallback;
}

static int fail(const char *step)
{
    fprintf(stderr, "replay: %s failed: %s\n", step, SDL_GetError());
    return 1;
}

int main()
{
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        fprintf(stderr, "Video initialization failed: %s\n", SDL_GetError());
        return 1;
    }
    const SDL_VideoInfo *info = SDL_GetVideoInfo();
    int flags =
        SDL_OPENGL | SDL_HWSURFACE | SDL_ASYNCBLIT | SDL_RESIZABLE | SDL_HWPALETTE | SDL_FULLSCREEN;
    if (info && info->blit_hw)
        flags |= SDL_HWACCEL;
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    if (!SDL_SetVideoMode(800, 600, 16, flags) || SDL_EnableKeyRepeat(100, 30) != 0)
        return fail("display");
    SDL_ShowCursor(0);
    if (!initGL())
        return fail("initGL");
    initMY();
    GLint texture = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);

    const long warmup = setting("PROBE_WARMUP", 20), measured = setting("PROBE_FRAMES", 200);
    const long total = warmup + measured;
    // The program's frame n shows the angles after n - 1 advances: the
    // positions as calcme writes them, frame by frame.
    std::vector<float> x(total * POINTS), y(total * POINTS), z(total * POINTS);
    for (long f = 0; f < total; f++) {
        calcme();
        std::copy(cxd, cxd + POINTS, &x[f * POINTS]);
        std::copy(cyd, cyd + POINTS, &y[f * POINTS]);
        std::copy(czd, czd + POINTS, &z[f * POINTS]);
    }

    double start = 0;
    for (long f = 0; f < total; f++) {
        if (f == warmup)
            start = now();
        const float *px = &x[f * POINTS], *py = &y[f * POINTS], *pz = &z[f * POINTS];
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glBindTexture(GL_TEXTURE_2D, (GLuint)texture);
        glLoadIdentity();
        glColor4ub(97, 70, 200, 255);
        for (int k = 0; k < POINTS; k++) {
            glLoadIdentity();
            glTranslatef(0.0f, 0.0f, zoom);
            glTranslatef((float)(10.0 * px[k]), (float)(10.0 * py[k]), (float)(10.0 * pz[k]));
            glBegin(GL_QUADS);
            glTexCoord2f(0.0f, 0.0f);
            glVertex3f(-0.3f, -0.3f, 0.0f);
            glTexCoord2f(1.0f, 0.0f);
            glVertex3f(0.3f, -0.3f, 0.0f);
            glTexCoord2f(1.0f, 1.0f);
            glVertex3f(0.3f, 0.3f, 0.0f);
            glTexCoord2f(0.0f, 1.0f);
            glVertex3f(-0.3f, 0.3f, 0.0f);
            glEnd();
        }
        SDL_GL_SwapBuffers();
    }
    const double wall = now() - start;
    printf("frames %ld seconds %.4f fps %.3f rotation_share 0\n", measured, wall, measured / wall);
    SDL_Quit();
    return 0;
}
