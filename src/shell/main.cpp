// SPDX-License-Identifier: MIT
// Entry, display set-up, the main loop and the one way out.
#include "../cloud/cloud.h"
#include "../render/render.h"
#include "shell.h"

#include "SDL.h"

#include <cstdio>
#include <cstdlib>
#ifdef __EMSCRIPTEN__
#include <emscripten.h>
// The page's loop waits, its state kept, until the browser is about to show
// the next picture.
EM_ASYNC_JS(void, awaitNextPicture, (), { await new Promise(requestAnimationFrame); });
#endif

static SDL_Surface *surface; // the display; owned by SDL, only tested for null

static const int screenWidth = 800;  // display pixels
static const int screenHeight = 600; // display pixels
static const int screenBpp = 16;     // bits per pixel requested

// Every runtime's idea of the pointer starts at the display's centre, where
// the lattice rests. The motion queued while the display was set up is
// stale: the compatibility library reports where the pointer was in the
// window before a window manager or compositor resized it. With the pointer
// hidden that library follows its own sum of relative motions, which the
// warp starts from the centre; elsewhere the warp moves the real pointer.
static void centrePointer()
{
    SDL_Event stale;
    while (SDL_PeepEvents(&stale, 1, SDL_GETEVENT, SDL_MOUSEMOTIONMASK) > 0) {
    }
    SDL_WarpMouse(screenWidth / 2, screenHeight / 2);
}

void Quit(int returnCode)
{
    SDL_Quit();
    exit(returnCode);
}

// Where SDL supplies the process entry its header renames this to SDL_main;
// elsewhere it is the process's main. The arguments are not used.
int main(int argc, char *argv[])
{
    (void)argc;
    (void)argv;

    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        fprintf(stderr, "Video initialization failed: %s\n", SDL_GetError());
        Quit(1);
    }
    const SDL_VideoInfo *videoInfo = SDL_GetVideoInfo();
    if (!videoInfo) {
        fprintf(stderr, "Video query failed: %s\n", SDL_GetError());
        Quit(1);
    }
    int videoFlags =
        SDL_OPENGL | SDL_HWSURFACE | SDL_ASYNCBLIT | SDL_RESIZABLE | SDL_HWPALETTE | SDL_FULLSCREEN;
    if (videoInfo->blit_hw)
        videoFlags |= SDL_HWACCEL;
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    surface = SDL_SetVideoMode(screenWidth, screenHeight, screenBpp, videoFlags);
    if (!surface) {
        fprintf(stderr, "Video mode set failed: %s\n", SDL_GetError());
        Quit(1);
    }
    if (SDL_EnableKeyRepeat(100, 30) != 0) {
        fprintf(stderr, "Setting keyboard repeat failed: %s\n", SDL_GetError());
        Quit(1);
    }
    SDL_ShowCursor(0);
    centrePointer();
    if (!initGL())
        Quit(1);
    initMY();

    int done = 0;
    SDL_Event event;
    while (!done) {
        while (SDL_PollEvent(&event)) {
            switch (event.type) {
            case SDL_MOUSEMOTION:
                // Half the offset from the centre; the division truncates
                // toward zero, so the neutral zone is three pixels wide.
                mx = event.motion.x;
                my = event.motion.y;
                sx = (mx - screenWidth / 2) / 2;
                sy = (my - screenHeight / 2) / 2;
                break;
            case SDL_KEYDOWN:
                handleKeyPress(&event.key.keysym);
                break;
            case SDL_QUIT:
                // Honoured after this pass has been drawn.
                done = 1;
                break;
            default:
                break;
            }
        }
        calcme();
        drawGLScene();
#ifdef __EMSCRIPTEN__
        // A page's script must hand the browser back its thread to have the
        // frame shown and the next events delivered. Resumed at once, it
        // would draw frames the browser never shows, at the cost of those it
        // does; resumed with the next picture, every frame drawn is shown.
        awaitNextPicture();
#endif
    }
    Quit(0);
    return 0;
}
