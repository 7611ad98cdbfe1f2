// SPDX-License-Identifier: MIT
// The fixed GL state, the sprite texture and the drawing of one frame.
#include "../cloud/cloud.h"
#include "../shell/shell.h"
#include "render.h"

// MinGW's gl.h includes windows.h, whose POINTS type would clash with the
// lattice size; it goes by another name while those headers are read.
#define POINTS WINDOWS_POINTS
#include <GL/gl.h>
#include <GL/glu.h>
#undef POINTS
#ifndef GL_BGR
#define GL_BGR GL_BGR_EXT // an OpenGL 1.1 gl.h, as MinGW's, names it so
#endif
#ifdef __EMSCRIPTEN__
#include "page.h" // where WebGL differs, the page's own upload and drawing
#endif

static GLuint texture[1]; // texture[0]: the sprite
[[maybe_unused]] static GLuint
    loop; // point counter of the frame being drawn (a page counts its own)

static GLubyte tint[3]; // sprite colour, red, green, blue 0..255

static const float halfSide = 0.3f; // half the side of every square, eye units
static const double scale = 10.0;   // lattice units to eye units

static int LoadGLTextures()
{
    int Status = 0;
    // The context exists by now, so the implementation can say how large a
    // texture it takes; a larger sprite is a failed load, not a GL error.
    GLint largestSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largestSide);
    SDL_Surface *image = loadSpriteImage("data/sprite01.bmp", largestSide);
    if (!image)
        return Status;
    Status = 1;
    glGenTextures(1, &texture[0]);
    glBindTexture(GL_TEXTURE_2D, texture[0]);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // Row 0 of the surface, the top of the picture, becomes t = 0, which the
    // squares put at their bottom edge: the sprite shows mirrored top to
    // bottom, as it always has.
#ifdef __EMSCRIPTEN__
    uploadPageSprite(image);
#else
    glTexImage2D(GL_TEXTURE_2D, 0, 3, image->w, image->h, 0, GL_BGR, GL_UNSIGNED_BYTE,
                 image->pixels);
#endif
    SDL_FreeSurface(image);
    return Status;
}

int initGL()
{
    if (!LoadGLTextures())
        return 0;
    glEnable(GL_TEXTURE_2D);
    glShadeModel(GL_SMOOTH);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearDepth(1.0);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    // Additive: crowded regions brighten toward white, and the order in which
    // the unsorted squares land does not matter. No depth test.
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glEnable(GL_BLEND);
    glViewport(0, 0, 800, 600);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    const float aspect = 800.0f / 600.0f;
    const float nearPlane = 0.1f;
    gluPerspective(70.0, aspect, nearPlane, 500.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    tint[0] = 97;
    tint[1] = 70;
    tint[2] = 200;
    return 1;
}

// Each square gets its own modelview of translations only, so the lattice
// turns while every sprite keeps facing the viewer.
int drawGLScene()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glBindTexture(GL_TEXTURE_2D, texture[0]);
    glLoadIdentity();
    // Full alpha: with the additive blend each sprite adds its texels
    // times the tint to the frame.
    glColor4ub(tint[0], tint[1], tint[2], 255);
#ifdef __EMSCRIPTEN__
    drawPageSquares(tint, halfSide, scale);
#else
    for (loop = 0; loop < POINTS; loop++) {
        glLoadIdentity();
        glTranslatef(0.0f, 0.0f, zoom);
        glTranslatef((float)(scale * cxd[loop]), (float)(scale * cyd[loop]),
                     (float)(scale * czd[loop]));
        glBegin(GL_QUADS);
        glTexCoord2f(0.0f, 0.0f);
        glVertex3f(-halfSide, -halfSide, 0.0f);
        glTexCoord2f(1.0f, 0.0f);
        glVertex3f(halfSide, -halfSide, 0.0f);
        glTexCoord2f(1.0f, 1.0f);
        glVertex3f(halfSide, halfSide, 0.0f);
        glTexCoord2f(0.0f, 1.0f);
        glVertex3f(-halfSide, halfSide, 0.0f);
        glEnd();
    }
#endif
    SDL_GL_SwapBuffers();
    return 1;
}
