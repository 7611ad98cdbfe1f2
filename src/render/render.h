// Rendering: the fixed OpenGL state, the sprite texture and the frame.
#ifndef GLOWLATTICE_RENDER_H
#define GLOWLATTICE_RENDER_H

#include "SDL.h"

// The sprite image as 24-bit rows in blue, green, red byte order, each row
// padded to four bytes, whatever depth the file had; null when SDL cannot
// load the file. The caller frees it with SDL_FreeSurface.
SDL_Surface *loadSpriteImage(const char *path);

int initGL();
int drawGLScene();

#endif
