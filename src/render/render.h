// SPDX-License-Identifier: MIT
// Rendering: the fixed OpenGL state, the sprite texture and the frame.
#ifndef GLOWLATTICE_RENDER_H
#define GLOWLATTICE_RENDER_H

#include "SDL.h"

// The sprite image as 24-bit rows in blue, green, red byte order, each row
// padded to four bytes, whatever depth the file had; null when SDL cannot
// load the file, or when its header claims a side over largestSide (or over
// a fixed cap) or more pixel data than the file holds. The caller frees it
// with SDL_FreeSurface.
SDL_Surface *loadSpriteImage(const char *path, int largestSide);
// The same from an open stream, which it closes.
SDL_Surface *loadSpriteImageFrom(SDL_RWops *file, int largestSide);

int initGL();
int drawGLScene();

#endif
