// SPDX-License-Identifier: MIT
// Loading the sprite image into the one layout the texture upload reads.
#include "render.h"

#include <cstdint>
#include <cstring>

// A 24-bit format whose bytes lie in memory as blue, green, red on either
// byte order, which is what a GL_BGR upload expects.
static SDL_PixelFormat bgrFormat()
{
    SDL_PixelFormat format = {};
    format.BitsPerPixel = 24;
    format.BytesPerPixel = 3;
#if SDL_BYTEORDER == SDL_LIL_ENDIAN
    format.Rmask = 0xFF0000;
    format.Gmask = 0x00FF00;
    format.Bmask = 0x0000FF;
    format.Rshift = 16;
    format.Bshift = 0;
#else
    format.Rmask = 0x0000FF;
    format.Gmask = 0x00FF00;
    format.Bmask = 0xFF0000;
    format.Rshift = 0;
    format.Bshift = 16;
#endif
    format.Gshift = 8;
    format.alpha = 255;
    return format;
}

static const int maxSide = 4096; // pixels: the largest sprite side accepted, whatever GL allows

static uint32_t le32(const uint8_t *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static uint16_t le16(const uint8_t *p)
{
    return (uint16_t)(p[0] | p[1] << 8);
}

// In 4-bit run-length data a run counts pixels, two to a byte, and the next
// run goes on from the pixel where it ended, in the middle of a byte or not.
// SDL 3's reader (under the SDL 1.2 interface on Debian 14) starts every
// run on a whole byte instead, so after a run of an odd length the rest of
// the row is out of place: a valid file shows another picture. Such files are
// therefore refused, as SDL 1.2.15 refuses them, wherever the runtime reads
// this one wrongly: 3 x 1 pixels, a run of one red, then a run of two green.
static bool readsRunLength4Right()
{
    // clang-format off
    static const uint8_t file[] = {
        'B', 'M', 72, 0, 0, 0, 0, 0, 0, 0, 66, 0, 0, 0,  // the file's size; pixels at 66
        40, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 1, 0, 4, 0, // 3 x 1, 4 bits
        2, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // run-length, 6 bytes of it
        3, 0, 0, 0, 0, 0, 0, 0,                          // 3 colours:
        0, 0, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0,          // black, red, green
        1, 0x11, 2, 0x22, 0, 1};                         // 1 red, 2 green, the end
    // clang-format on
    static_assert(sizeof file == 72, "the size the header gives");
    SDL_Surface *image = SDL_LoadBMP_RW(SDL_RWFromConstMem(file, sizeof file), 1);
    if (!image)
        return false;
    SDL_PixelFormat format = bgrFormat();
    SDL_Surface *rows = SDL_ConvertSurface(image, &format, SDL_SWSURFACE);
    SDL_FreeSurface(image);
    static const uint8_t want[9] = {0, 0, 255, 0, 255, 0, 0, 255, 0};
    const bool right = rows && memcmp(rows->pixels, want, sizeof want) == 0;
    SDL_FreeSurface(rows);
    return right;
}

// SDL's loaders trust the header: they allocate the whole surface from the
// dimensions it claims before reading a pixel, and one of them computes the
// end of the pixel data in an int, so a few kilobytes claiming millions of
// rows get a 2 GB allocation and a surface nobody filled. The header is
// therefore checked here, with sizes in size_t, before SDL sees the file.
static bool headerFits(SDL_RWops *file, int largestSide)
{
    const int start = SDL_RWtell(file);
    const int end = SDL_RWseek(file, 0, RW_SEEK_END);
    uint8_t head[34] = {};
    if (start < 0 || end < start || SDL_RWseek(file, start, RW_SEEK_SET) != start ||
        SDL_RWread(file, head, 26, 1) != 1)
        return false;
    const uint32_t infoSize = le32(head + 14);
    if (infoSize != 12 && SDL_RWread(file, head + 26, 8, 1) != 1)
        return false;
    if (SDL_RWseek(file, start, RW_SEEK_SET) != start || head[0] != 'B' || head[1] != 'M')
        return false;
    const size_t fileSize = (size_t)(end - start);
    const size_t pixelsAt = le32(head + 10);
    int64_t width, height;
    unsigned bits;
    uint32_t compression = 0;
    if (infoSize == 12) { // the oldest header: unsigned 16-bit sides
        width = le16(head + 18);
        height = le16(head + 20);
        bits = le16(head + 24);
    } else {
        width = (int32_t)le32(head + 18);
        height = (int32_t)le32(head + 22); // negative: rows stored top-down
        bits = le16(head + 28);
        compression = le32(head + 30);
    }
    if (height < 0)
        height = -height;
    const int64_t limit = largestSide < maxSide ? largestSide : maxSide;
    if (width < 1 || height < 1 || width > limit || height > limit)
        return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return false;
    if (bits == 4 && compression == 2) {
        static const bool readRight = readsRunLength4Right();
        if (!readRight)
            return false;
    }
    // Uncompressed rows (plain or with bit masks) must all be in the file;
    // run-length data has no fixed size and is bounded by the sides alone.
    if (compression == 0 || compression == 3) {
        const size_t pitch = ((size_t)width * bits + 31) / 32 * 4;
        if (pixelsAt > fileSize || pitch * (size_t)height > fileSize - pixelsAt)
            return false;
    }
    return true;
}

SDL_Surface *loadSpriteImageFrom(SDL_RWops *file, int largestSide)
{
    if (!file)
        return 0;
    if (!headerFits(file, largestSide)) {
        SDL_RWclose(file);
        return 0;
    }
    SDL_Surface *image = SDL_LoadBMP_RW(file, 1);
    if (!image)
        return 0;
    // A BMP of any other depth (palettised, 16 or 32 bits) would be read
    // three bytes a pixel by the upload: the wrong bytes, or past the end.
    // Converting even a 24-bit image costs one copy and gives rows whose
    // pitch SDL pads to four bytes, matching GL's default unpack alignment.
    SDL_PixelFormat format = bgrFormat();
    SDL_Surface *rows = SDL_ConvertSurface(image, &format, SDL_SWSURFACE);
    SDL_FreeSurface(image);
    return rows;
}

SDL_Surface *loadSpriteImage(const char *path, int largestSide)
{
    return loadSpriteImageFrom(SDL_RWFromFile(path, "rb"), largestSide);
}
