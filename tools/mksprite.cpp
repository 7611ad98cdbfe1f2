// SPDX-License-Identifier: MIT
// Makes data/sprite01.bmp: a soft round glow, white at the core and fading to
// black well inside the square's edge, so that the squares never show their
// corners and thousands of them add up to a smooth haze.
//
//   mksprite OUT.bmp
#include "bmpwrite.h"

#include <cmath>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: mksprite OUT.bmp\n");
        return 2;
    }
    const int side = 64; // a power of two, as OpenGL 1.1 needs
    std::vector<Rgb> pixels(side * side);
    for (int y = 0; y < side; y++)
        for (int x = 0; x < side; x++) {
            // Distance from the centre, 1 at the middle of an edge.
            const double dx = (x + 0.5 - side / 2.0) / (side / 2.0);
            const double dy = (y + 0.5 - side / 2.0) / (side / 2.0);
            const double r2 = dx * dx + dy * dy;
            // (1 - r^2)^3: smooth at the rim, a bright but not hard core.
            const double v = r2 < 1.0 ? std::pow(1.0 - r2, 3.0) : 0.0;
            const uint8_t level = (uint8_t)std::lround(255.0 * v);
            pixels[y * side + x] = {level, level, level};
        }
    if (!writeBmp(argv[1], side, side, pixels)) {
        perror(argv[1]);
        return 1;
    }
    return 0;
}
