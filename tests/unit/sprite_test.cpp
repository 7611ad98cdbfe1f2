// SPDX-License-Identifier: MIT
// The sprite loader hands the texture upload one layout only, 24-bit rows of
// blue, green, red padded to four bytes, whatever the file's depth; files SDL
// cannot read, or that lie about their size, give nothing. No display is
// needed: what the program shows of each file is decided here.
#include "render/render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace
{

struct Rgb {
    int r, g, b;
};

// Sixteen colours far apart, so that a misplaced texel shows.
Rgb corpusColour(int n)
{
    static const Rgb colours[16] = {
        {255, 255, 255}, {255, 0, 0},   {0, 255, 0},     {0, 0, 255},
        {255, 255, 0},   {0, 255, 255}, {255, 0, 255},   {128, 128, 128},
        {255, 128, 0},   {128, 0, 255}, {0, 128, 64},    {64, 32, 16},
        {200, 200, 64},  {16, 64, 200}, {240, 160, 200}, {0, 0, 0},
    };
    return colours[n & 15];
}

// The texel at (x, y), row 0 the top, of the pattern every readable file of
// the corpus holds, in up to `colours` colours: no two rows or columns alike,
// so that a shifted, flipped or mis-padded row is a different picture.
Rgb corpusPicture(int x, int y, int colours)
{
    return corpusColour((x * 7 + y * 3 + x * y / 5) % colours);
}

enum Outcome {
    shows,          // the pattern, texel for texel within the tolerance
    refused,        // nothing: the program ends with 1 and prints nothing
    showsOrRefused, // one or the other: the SDL 1.2 runtimes differ here
};

// Each file in tests/unit/corpus and what the loader must make of it.
const struct CorpusFile {
    const char *name;
    Outcome outcome;
    // Of what shows; the tolerance is per channel and texel, 0 where every
    // runtime is exact.
    int width = 0, height = 0, colours = 0, tolerance = 0;
} corpus[] = {
    {"Palette1Bit", shows, 32, 32, 2},
    {"Palette4Bit", shows, 32, 32, 16},
    {"Palette4BitOddWidth", shows, 5, 7, 16},
    {"Palette8Bit", shows, 32, 32, 16},
    {"Palette8BitOddWidth", shows, 3, 3, 16},
    // 5 bits a channel: one runtime widens them by a shift, the other
    // repeats the top bits into the low ones; either is within 7.
    {"Rgb16Bit", shows, 32, 32, 16, 7},
    {"Rgb24Bit1x1", shows, 1, 1, 16},
    {"Rgb24Bit3x3", shows, 3, 3, 16},
    {"Rgb24Bit5x7", shows, 5, 7, 16},
    {"Rgb32Bit", shows, 32, 32, 16},
    {"Rgb32BitOddWidth", shows, 5, 7, 16},
    {"TopDown24Bit", shows, 32, 32, 16},
    {"TopDown8Bit", shows, 5, 7, 16},
    {"RunLength8Bit", showsOrRefused, 32, 32, 16},
    // Most of its runs are one pixel long: each next run starts in the middle
    // of a byte, which a reader counting runs in whole bytes gets wrong.
    {"RunLength4Bit", showsOrRefused, 32, 32, 16},
    // The pattern as a plain 24-bit file of 32 x 32, cut short in the
    // signature, the file header, the info header, before the pixels,
    // half-way through them, and one byte before the end.
    {"TruncatedAt2", refused},
    {"TruncatedAt14", refused},
    {"TruncatedAt30", refused},
    {"TruncatedAt54", refused},
    {"TruncatedAt1590", refused},
    {"TruncatedAt3125", refused},
    {"ZeroSized", refused},  // 0 x 0
    {"ZeroHeight", refused}, // 32 x 0
    // 4 KB claiming 64 x 11,206,704 pixels: the pixel data's end overflows
    // an int, and the allocation would be about 2 GB.
    {"EnormousHeight", refused},
    {"EnormousTopDown", refused}, // the same, 100,000 x -100,000
    // The same, 8192 x 8192: within many GL limits, over the loader's own cap.
    {"OverTheCap", refused},
    {"Empty", refused},
    {"RandomBytes", refused},      // 4 KB of noise
    {"RandomAfterMagic", refused}, // "BM", then the same noise
};

TEST(SpriteLoad, RefusesWhatItMustAndGivesTheRestTexelForTexel)
{
    for (const CorpusFile &c : corpus) {
        SCOPED_TRACE(c.name);
        const std::string path = std::string(GLOWLATTICE_CORPUS) + "/" + c.name + ".bmp";
        // A missing file would pass as refused.
        ASSERT_TRUE(std::ifstream(path).is_open()) << path;
        SDL_Surface *image = loadSpriteImage(path.c_str(), 16384);
        if (c.outcome == refused) {
            EXPECT_EQ(image, nullptr);
        }
        if (c.outcome == shows) {
            EXPECT_NE(image, nullptr);
        }
        if (!image)
            continue;
        ASSERT_EQ(image->w, c.width);
        ASSERT_EQ(image->h, c.height);
        ASSERT_EQ(image->format->BytesPerPixel, 3);
        EXPECT_EQ(image->pitch, (image->w * 3 + 3) & ~3) << "GL unpacks rows so";
        int worst = 0;
        for (int y = 0; y < image->h; y++)
            for (int x = 0; x < image->w; x++) {
                const uint8_t *p = (const uint8_t *)image->pixels + y * image->pitch + 3 * x;
                const Rgb want = corpusPicture(x, y, c.colours);
                worst = std::max({worst, std::abs(p[0] - want.b), std::abs(p[1] - want.g),
                                  std::abs(p[2] - want.r)});
            }
        EXPECT_LE(worst, c.tolerance);
        SDL_FreeSurface(image);
    }
}

// A plain 24-bit file of black pixels, as SDL itself writes it.
std::vector<uint8_t> blackFile(int width, int height)
{
    std::vector<uint8_t> file(64 * 1024);
    SDL_Surface *image =
        SDL_CreateRGBSurface(SDL_SWSURFACE, width, height, 24, 0xFF0000, 0x00FF00, 0x0000FF, 0);
    SDL_RWops *out = SDL_RWFromMem(file.data(), (int)file.size());
    EXPECT_EQ(SDL_SaveBMP_RW(image, out, 0), 0) << SDL_GetError();
    file.resize(SDL_RWtell(out));
    SDL_RWclose(out);
    SDL_FreeSurface(image);
    return file;
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
        const std::vector<uint8_t> file = blackFile(c.width, c.height);
        SDL_Surface *image =
            loadSpriteImageFrom(SDL_RWFromConstMem(file.data(), (int)file.size()), c.largestSide);
        EXPECT_EQ(image != nullptr, c.loads) << c.width << " x " << c.height;
        SDL_FreeSurface(image);
    }
}

} // namespace
