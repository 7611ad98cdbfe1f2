// SPDX-License-Identifier: MIT
// The sprite loader hands the upload one layout, 24-bit rows of blue, green,
// red padded to four bytes, whatever the depth; files SDL cannot read, or that
// lie about their size, give nothing.
#include "render/render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace
{

struct Rgb {
    int r, g, b;
};

// The texel at (x, y), row 0 the top, of the corpus's pattern in up to `colours` of sixteen
// colours far apart, so that a misplaced texel shows: no two rows or columns alike.
Rgb corpusPicture(int x, int y, int colours)
{
    static const Rgb palette[16] = {
        {255, 255, 255}, {255, 0, 0},   {0, 255, 0},     {0, 0, 255},
        {255, 255, 0},   {0, 255, 255}, {255, 0, 255},   {128, 128, 128},
        {255, 128, 0},   {128, 0, 255}, {0, 128, 64},    {64, 32, 16},
        {200, 200, 64},  {16, 64, 200}, {240, 160, 200}, {0, 0, 0},
    };
    return palette[(x * 7 + y * 3 + x * y / 5) % colours];
}

// The corpus files that show a picture, and what; every other one must be
// refused: cut short (TruncatedAtN), 0 x 0, 32 x 0, sizes whose data overflows
// an int or exceeds the cap, empty, noise, and "BM" then noise.
const struct Shown {
    const char *name;
    int width, height, colours;
    int tolerance = 0;   // per channel and texel: 0 where every runtime is exact
    bool maybe = false;  // refused by one SDL 1.2 runtime, shown by the other
} shown[] = {
    {"Palette1Bit", 32, 32, 2},
    {"Palette4Bit", 32, 32, 16},
    {"Palette4BitOddWidth", 5, 7, 16},
    {"Palette8Bit", 32, 32, 16},
    {"Palette8BitOddWidth", 3, 3, 16},
    // 5 bits a channel, widened by a shift or by repeating bits: within 7.
    {"Rgb16Bit", 32, 32, 16, 7},
    {"Rgb24Bit1x1", 1, 1, 16},
    {"Rgb24Bit3x3", 3, 3, 16},
    {"Rgb24Bit5x7", 5, 7, 16},
    {"Rgb32Bit", 32, 32, 16},
    {"Rgb32BitOddWidth", 5, 7, 16},
    {"TopDown24Bit", 32, 32, 16},
    {"TopDown8Bit", 5, 7, 16},
    {"RunLength8Bit", 32, 32, 16, 0, true},
    // One-pixel runs start mid-byte, which a reader counting bytes gets wrong.
    {"RunLength4Bit", 32, 32, 16, 0, true},
};

TEST(SpriteLoad, RefusesWhatItMustAndGivesTheRestTexelForTexel)
{
    int files = 0;
    for (const auto &entry : std::filesystem::directory_iterator(GLOWLATTICE_CORPUS)) {
        const std::string name = entry.path().stem().string();
        SCOPED_TRACE(name);
        files++;
        const Shown *c = std::find_if(std::begin(shown), std::end(shown),
                                      [&](const Shown &s) { return name == s.name; });
        SDL_Surface *image = loadSpriteImage(entry.path().string().c_str(), 16384);
        const bool listed = c != std::end(shown);
        EXPECT_TRUE((image != nullptr) == listed || (listed && c->maybe)) << "shown: " << !!image;
        if (!image)
            continue;
        ASSERT_EQ(image->w, c->width);
        ASSERT_EQ(image->h, c->height);
        ASSERT_EQ(image->format->BytesPerPixel, 3);
        EXPECT_EQ(image->pitch, (image->w * 3 + 3) & ~3) << "GL unpacks rows so";
        int worst = 0;
        for (int y = 0; y < image->h; y++)
            for (int x = 0; x < image->w; x++) {
                const uint8_t *p = (const uint8_t *)image->pixels + y * image->pitch + 3 * x;
                const Rgb want = corpusPicture(x, y, c->colours);
                worst = std::max({worst, std::abs(p[0] - want.b), std::abs(p[1] - want.g),
                                  std::abs(p[2] - want.r)});
            }
        EXPECT_LE(worst, c->tolerance);
        SDL_FreeSurface(image);
    }
    EXPECT_EQ(files, 29) << "the corpus in " GLOWLATTICE_CORPUS;
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
