// Loading the sprite image into the one layout the texture upload reads.
#include "render.h"

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

SDL_Surface *loadSpriteImage(const char *path)
{
    SDL_RWops *file = SDL_RWFromFile(path, "rb");
    if (!file)
        return 0;
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
