// SPDX-License-Identifier: MIT
// Writes BMP files of every depth SDL's readers know, from a picture held in
// memory: palettised, 16, 24 and 32 bits, bottom-up or top-down rows, and
// run-length data. Shared by the sprite generator and the tests, which make
// their own images.
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

struct Picture {
    int width = 0, height = 0;
    std::vector<Rgb> pixels; // width * height, row 0 the top
};

// How the pixels are stored.
struct Encoding {
    int bits = 24;        // 1, 4, 8 (palettised), 16 (5-5-5), 24 or 32
    bool topDown = false; // negative height: row 0 of the file is the top
    bool rle = false;     // run-length compressed (8 or 4 bits only)
};

inline void put16(std::vector<uint8_t> &f, size_t at, uint32_t v)
{
    f[at] = (uint8_t)v;
    f[at + 1] = (uint8_t)(v >> 8);
}

inline void put32(std::vector<uint8_t> &f, size_t at, uint32_t v)
{
    put16(f, at, v & 0xFFFF);
    put16(f, at + 2, v >> 16);
}

// The whole file in memory, with a BITMAPINFOHEADER.
inline std::vector<uint8_t> encodeBmp(const Picture &p, Encoding e)
{
    std::vector<Rgb> palette;
    if (e.bits <= 8) {
        for (const Rgb &c : p.pixels)
            if (std::find(palette.begin(), palette.end(), c) == palette.end())
                palette.push_back(c);
        palette.resize(std::max(palette.size(), (size_t)1));
    }
    auto index = [&](int x, int y) {
        const Rgb &c = p.pixels[(size_t)y * p.width + x];
        return (uint8_t)(std::find(palette.begin(), palette.end(), c) - palette.begin());
    };
    const uint32_t offset = 54 + 4 * (uint32_t)palette.size();
    std::vector<uint8_t> file(offset, 0);
    for (size_t n = 0; n < palette.size(); n++) {
        file[54 + 4 * n] = palette[n].b;
        file[54 + 4 * n + 1] = palette[n].g;
        file[54 + 4 * n + 2] = palette[n].r;
    }
    const size_t pitch = ((size_t)p.width * e.bits + 31) / 32 * 4;
    for (int row = 0; row < p.height; row++) {
        const int y = e.topDown ? row : p.height - 1 - row;
        if (e.rle) {
            // One run per pixel at most: simple, and still valid data.
            for (int x = 0; x < p.width;) {
                int run = 1;
                while (x + run < p.width && run < 255 && index(x + run, y) == index(x, y))
                    run++;
                file.push_back((uint8_t)run);
                file.push_back(e.bits == 4 ? (uint8_t)(index(x, y) * 17) : index(x, y));
                x += run;
            }
            file.push_back(0);
            file.push_back(row + 1 == p.height ? 1 : 0); // end of bitmap, or of line
            continue;
        }
        const size_t rowAt = file.size();
        file.resize(rowAt + pitch, 0);
        uint8_t *bytes = file.data() + rowAt;
        for (int x = 0; x < p.width; x++) {
            const Rgb &c = p.pixels[(size_t)y * p.width + x];
            if (e.bits <= 8) {
                const int perByte = 8 / e.bits, at = x / perByte;
                const int shift = 8 - e.bits * (x % perByte + 1);
                bytes[at] |= (uint8_t)(index(x, y) << shift);
            } else if (e.bits == 16) {
                const uint32_t v = (uint32_t)(c.r >> 3) << 10 | (c.g >> 3) << 5 | c.b >> 3;
                bytes[2 * x] = (uint8_t)v;
                bytes[2 * x + 1] = (uint8_t)(v >> 8);
            } else {
                uint8_t *at = &bytes[(size_t)x * (e.bits / 8)];
                at[0] = c.b;
                at[1] = c.g;
                at[2] = c.r;
            }
        }
    }
    file[0] = 'B';
    file[1] = 'M';
    put32(file, 2, (uint32_t)file.size());
    put32(file, 10, offset);
    put32(file, 14, 40);
    put32(file, 18, (uint32_t)p.width);
    put32(file, 22, (uint32_t)(e.topDown ? -p.height : p.height));
    put16(file, 26, 1);
    put16(file, 28, (uint32_t)e.bits);
    put32(file, 30, e.rle ? (e.bits == 8 ? 1 : 2) : 0);
    put32(file, 34, (uint32_t)(file.size() - offset));
    put32(file, 38, 2835);
    put32(file, 42, 2835);
    put32(file, 46, (uint32_t)palette.size());
    return file;
}

// pixels: width * height entries, row 0 the top of the picture. Palettised
// depths hold at most 2^bits distinct colours.
inline bool writeBmp(const char *path, int width, int height, const std::vector<Rgb> &pixels,
                     int bits = 24)
{
    const std::vector<uint8_t> file = encodeBmp(Picture{width, height, pixels}, Encoding{bits});
    FILE *out = fopen(path, "wb");
    if (!out)
        return false;
    bool ok = fwrite(file.data(), 1, file.size(), out) == file.size();
    return fclose(out) == 0 && ok;
}

#endif
