// SPDX-License-Identifier: MIT
// The web page's own upload and drawing, where WebGL differs from OpenGL
// 1.1: built only for the page, and called only from scene.cpp.
#ifndef GLOWLATTICE_PAGE_H
#define GLOWLATTICE_PAGE_H

#include "SDL.h"

#include <GL/gl.h>

// The sprite as the browser decoded it, RGBA bytes, into the bound texture.
void uploadPageSprite(const SDL_Surface *image);
// Every square of the rotated lattice, as drawGLScene's loop would draw it
// with that tint, half side (eye units) and scale (lattice to eye units).
void drawPageSquares(const GLubyte tint[3], float halfSide, double scale);

#endif
