// SPDX-License-Identifier: MIT
// The sprite loader hands the texture upload one layout only, 24-bit rows of
// blue, green, red padded to four bytes, whatever the file's depth; files SDL
// cannot read, or that lie about their size, give nothing. No display is
// needed: what the program shows of each file is decided here.
#include "../../tools/bmpcorpus.h"
#include "render/render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace
{

SDL_Surface *fromMemory(const std::vector<uint8_t> &bytes, int largestSide)
{
    return loadSpriteImageFrom(SDL_RWFromConstMem(bytes.data(), (int)bytes.size()), largestSide);
}

TEST(SpriteLoad, RefusesWhatItMustAndGivesTheRestTexelForTexel)
{
    for (const CorpusCase &c : spriteCorpus()) {
        SDL_Surface *image = fromMemory(c.bytes, 16384);
        if (c.outcome == CorpusCase::refused) {
            EXPECT_EQ(image, nullptr) << c.name;
        }
        if (c.outcome == CorpusCase::shows) {
            EXPECT_NE(image, nullptr) << c.name;
        }
        if (!image)
            continue;
        ASSERT_EQ(image->w, c.picture.width) << c.name;
        ASSERT_EQ(image->h, c.picture.height) << c.name;
        ASSERT_EQ(image->format->BytesPerPixel, 3) << c.name;
        EXPECT_EQ(image->pitch, (image->w * 3 + 3) & ~3) << c.name << ": GL unpacks rows so";
        int worst = 0;
        for (int y = 0; y < image->h; y++)
            for (int x = 0; x < image->w; x++) {
                const uint8_t *p = (const uint8_t *)image->pixels + y * image->pitch + 3 * x;
                const Rgb want = c.picture.pixels[(size_t)y * image->w + x]; // row 0 the top
                worst = std::max({worst, std::abs(p[0] - want.b), std::abs(p[1] - want.g),
                                  std::abs(p[2] - want.r)});
            }
        EXPECT_LE(worst, c.tolerance) << c.name;
        SDL_FreeSurface(image);
    }
}

// The side limit the GL implementation reports counts, on either side, and
// so does the loader's own cap of 4096 whatever GL allows.
TEST(SpriteLoad, SidesOverTheLimitAreRefused)
{
    const struct {
        int width, height, largestSide;
        bool loads;
    } cases[] = {{64, 16, 63, false},    {64, 16, 64, true},     {16, 64, 63, false},
                 {16, 64, 64, true},     {4096, 1, 16384, true}, {4097, 1, 16384, false},
                 {1, 4096, 16384, true}, {1, 4097, 16384, false}};
    for (const auto &c : cases) {
        SDL_Surface *image =
            fromMemory(encodeBmp(corpusPicture(c.width, c.height, 4), Encoding{24}), c.largestSide);
        EXPECT_EQ(image != nullptr, c.loads) << c.width << " x " << c.height;
        SDL_FreeSurface(image);
    }
}

} // namespace
