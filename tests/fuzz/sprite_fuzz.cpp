// SPDX-License-Identifier: MIT
// Any bytes through the sprite loader: nothing, or a surface in the upload's
// one layout within the size limit, and no access outside its allocations.
//   sprite_fuzz [libFuzzer options] CORPUS_DIR [SEED_DIR...]
#include "render/render.h"

#include <cstdint>
#include <cstdlib>

static const int largestSide = 16384; // pixels: what the software renderer takes

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    SDL_Surface *image = loadSpriteImageFrom(SDL_RWFromConstMem(data, (int)size), largestSide);
    if (!image)
        return 0;
    if (image->w < 1 || image->h < 1 || image->w > 4096 || image->h > 4096 ||
        image->format->BytesPerPixel != 3 || image->pitch != (image->w * 3 + 3) / 4 * 4)
        abort();
    // Touch every byte the upload would read, so the sanitizer sees them.
    const uint8_t *bytes = (const uint8_t *)image->pixels;
    unsigned sum = 0;
    for (size_t n = 0; n < (size_t)image->pitch * (size_t)image->h; n++)
        sum += bytes[n];
    SDL_FreeSurface(image);
    return sum == 0xFFFFFFFFu; // never true; keeps the loop
}
