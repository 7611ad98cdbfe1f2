// Writes uncompressed BMP files of 8 (palettised), 24 or 32 bits per pixel:
// bottom-up rows, each padded to four bytes. Shared by the sprite generator
// and the tests, which make their own images.
#ifndef GLOWLATTICE_BMPWRITE_H
#define GLOWLATTICE_BMPWRITE_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb &o) const
    {
        return r == o.r && g == o.g && b == o.b;
    }
};

// pixels: width * height entries, row 0 the top of the picture. At 8 bits the
// picture may hold at most 256 distinct colours.
inline bool writeBmp(const char *path, int width, int height, const std::vector<Rgb> &pixels,
                     int bits = 24)
{
    std::vector<Rgb> palette;
    if (bits == 8)
        for (const Rgb &p : pixels)
            if (std::find(palette.begin(), palette.end(), p) == palette.end())
                palette.push_back(p);
    if (palette.size() > 256 || (bits != 8 && bits != 24 && bits != 32))
        return false;
    const uint32_t offset = 54 + 4 * (uint32_t)palette.size();
    const uint32_t pitch = (uint32_t)(width * bits / 8 + 3) & ~3u;
    const uint32_t imageSize = pitch * (uint32_t)height;
    std::vector<uint8_t> file(offset + imageSize, 0);
    auto put16 = [&](size_t at, uint32_t v) {
        file[at] = (uint8_t)v;
        file[at + 1] = (uint8_t)(v >> 8);
    };
    auto put32 = [&](size_t at, uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, (uint32_t)file.size());
    put32(10, offset); // where the pixel data starts
    put32(14, 40);     // BITMAPINFOHEADER
    put32(18, (uint32_t)width);
    put32(22, (uint32_t)height); // positive: rows stored bottom-up
    put16(26, 1);                // planes
    put16(28, (uint32_t)bits);
    put32(34, imageSize);
    put32(38, 2835); // 72 dpi
    put32(42, 2835);
    put32(46, (uint32_t)palette.size());
    for (size_t n = 0; n < palette.size(); n++) {
        file[54 + 4 * n] = palette[n].b;
        file[54 + 4 * n + 1] = palette[n].g;
        file[54 + 4 * n + 2] = palette[n].r;
    }
    for (int y = 0; y < height; y++) {
        uint8_t *row = &file[offset + (size_t)(height - 1 - y) * pitch];
        for (int x = 0; x < width; x++) {
            const Rgb &p = pixels[(size_t)y * width + x];
            if (bits == 8) {
                row[x] = (uint8_t)(std::find(palette.begin(), palette.end(), p) - palette.begin());
                continue;
            }
            uint8_t *at = row + (size_t)x * (bits / 8);
            at[0] = p.b;
            at[1] = p.g;
            at[2] = p.r;
        }
    }
    FILE *out = fopen(path, "wb");
    if (!out)
        return false;
    bool ok = fwrite(file.data(), 1, file.size(), out) == file.size();
    return fclose(out) == 0 && ok;
}

#endif
