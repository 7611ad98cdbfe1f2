// Writes uncompressed 24-bit BMP files: bottom-up rows of blue, green, red
// bytes, each row padded to four bytes. Shared by the sprite generator and
// the tests, which make their own images.
#ifndef GLOWLATTICE_BMPWRITE_H
#define GLOWLATTICE_BMPWRITE_H

#include <cstdint>
#include <cstdio>
#include <vector>

struct Rgb {
    uint8_t r, g, b;
};

// pixels: width * height entries, row 0 the top of the picture.
inline bool writeBmp24(const char *path, int width, int height, const std::vector<Rgb> &pixels)
{
    const uint32_t pitch = (uint32_t)(width * 3 + 3) & ~3u;
    const uint32_t imageSize = pitch * (uint32_t)height;
    std::vector<uint8_t> file(54 + imageSize, 0);
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
    put32(10, 54); // offset of the pixel data
    put32(14, 40); // BITMAPINFOHEADER
    put32(18, (uint32_t)width);
    put32(22, (uint32_t)height); // positive: rows stored bottom-up
    put16(26, 1);                // planes
    put16(28, 24);               // bits per pixel
    put32(34, imageSize);
    put32(38, 2835); // 72 dpi
    put32(42, 2835);
    for (int y = 0; y < height; y++) {
        uint8_t *row = &file[54 + (size_t)(height - 1 - y) * pitch];
        for (int x = 0; x < width; x++) {
            const Rgb &p = pixels[(size_t)y * width + x];
            row[3 * x] = p.b;
            row[3 * x + 1] = p.g;
            row[3 * x + 2] = p.r;
        }
    }
    FILE *out = fopen(path, "wb");
    if (!out)
        return false;
    bool ok = fwrite(file.data(), 1, file.size(), out) == file.size();
    return fclose(out) == 0 && ok;
}

#endif
