// SPDX-License-Identifier: MIT
// Makes data/sprite01.bmp: a soft round glow, black well inside the square's edge
// so that the squares never show their corners and add up to a smooth haze.
//   mksprite OUT.bmp
#include "SDL.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: mksprite OUT.bmp\n");
        return 2;
    }
    const int side = 64; // a power of two, as OpenGL 1.1 needs
    // 24 bits; the glow is grey, so the byte order is moot.
    SDL_Surface *image =
        SDL_CreateRGBSurface(SDL_SWSURFACE, side, side, 24, 0xFF0000, 0x00FF00, 0x0000FF, 0);
    if (!image) {
        fprintf(stderr, "mksprite: %s\n", SDL_GetError());
        return 1;
    }
    for (int y = 0; y < side; y++)
        for (int x = 0; x < side; x++) {
            const double dx = (x + 0.5 - side / 2.0) / (side / 2.0);
            const double dy = (y + 0.5 - side / 2.0) / (side / 2.0);
            const double r2 = dx * dx + dy * dy;
            // (1 - r^2)^3: smooth at the rim, a bright but not hard core.
            const double v = r2 < 1.0 ? std::pow(1.0 - r2, 3.0) : 0.0;
            uint8_t *texel = (uint8_t *)image->pixels + y * image->pitch + 3 * x;
            texel[0] = texel[1] = texel[2] = (uint8_t)std::lround(255.0 * v);
        }
    const int saved = SDL_SaveBMP(image, argv[1]);
    if (saved != 0)
        fprintf(stderr, "mksprite: %s: %s\n", argv[1], SDL_GetError());
    SDL_FreeSurface(image);
    return saved != 0;
}
