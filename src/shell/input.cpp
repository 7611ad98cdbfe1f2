// SPDX-License-Identifier: MIT
// Keys and the pointer turned into the viewing distance and the spin inputs.
#include "shell.h"

#include "SDL.h"

float zoom = -25.0f;
int mx;
int my;
int sx;
int sy;

static const float zoomStep = 0.6f; // eye units per Up or Down press

void handleKeyPress(SDL_keysym *keysym)
{
    switch (keysym->sym) {
    case SDLK_ESCAPE:
        Quit(0);
        break;
    case SDLK_UP:
        zoom = zoom + zoomStep;
        break;
    case SDLK_DOWN:
        zoom = zoom - zoomStep;
        break;
    default:
        break;
    }
}
