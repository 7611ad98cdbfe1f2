// SPDX-License-Identifier: MIT
// Hostile and unusual sprite files, made here rather than kept as binaries:
// every depth SDL's BMP readers know, odd row padding, run-length data,
// top-down rows, and files that are cut short, empty, random or lie about
// their size. Each case says what the loader must make of it. The loader's
// unit tests and the fuzzer's seed corpus (tools/mkcorpus) use it.
#ifndef GLOWLATTICE_BMPCORPUS_H
#define GLOWLATTICE_BMPCORPUS_H

#include "bmpwrite.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

// Sixteen colours far apart, so that a misplaced texel shows.
inline Rgb corpusColour(int n)
{
    static const Rgb colours[16] = {
        {255, 255, 255}, {255, 0, 0},   {0, 255, 0},     {0, 0, 255},
        {255, 255, 0},   {0, 255, 255}, {255, 0, 255},   {128, 128, 128},
        {255, 128, 0},   {128, 0, 255}, {0, 128, 64},    {64, 32, 16},
        {200, 200, 64},  {16, 64, 200}, {240, 160, 200}, {0, 0, 0},
    };
    return colours[n & 15];
}

// An irregular pattern of up to `colours` colours: no two rows or columns
// alike, so that a shifted, flipped or mis-padded row is a different picture.
inline Picture corpusPicture(int width, int height, int colours)
{
    Picture p;
    p.width = width;
    p.height = height;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            p.pixels.push_back(corpusColour((x * 7 + y * 3 + x * y / 5) % colours));
    return p;
}

// What 5 bits per channel keep of a colour, widened back the way SDL does it
// when it repeats the top bits into the low ones.
inline Picture quantised555(Picture p)
{
    for (Rgb &c : p.pixels)
        for (uint8_t *v : {&c.r, &c.g, &c.b})
            *v = (uint8_t)((*v >> 3) << 3 | *v >> 5);
    return p;
}

struct CorpusCase {
    enum Outcome {
        shows,         // the picture, as the same image in a plain 24-bit file shows
        refused,       // status 1, nothing on standard error
        showsOrRefused // one or the other: the SDL 1.2 runtimes differ here
    };
    std::string name;
    Outcome outcome = refused;
    std::vector<uint8_t> bytes;
    Picture picture;   // what must show
    int tolerance = 0; // per channel and texel: 0 where every runtime is exact
};

inline std::vector<CorpusCase> spriteCorpus()
{
    std::vector<CorpusCase> cases;
    auto good = [&](const char *name, CorpusCase::Outcome outcome, Picture p, Encoding e,
                    int tolerance = 0) {
        CorpusCase c;
        c.name = name;
        c.outcome = outcome;
        c.bytes = encodeBmp(p, e);
        c.picture = e.bits == 16 ? quantised555(p) : p;
        c.tolerance = tolerance;
        cases.push_back(c);
    };
    auto bad = [&](std::string name, std::vector<uint8_t> bytes) {
        CorpusCase c;
        c.name = name;
        c.bytes = bytes;
        cases.push_back(c);
    };
    good("Palette1Bit", CorpusCase::shows, corpusPicture(32, 32, 2), Encoding{1});
    good("Palette4Bit", CorpusCase::shows, corpusPicture(32, 32, 16), Encoding{4});
    good("Palette4BitOddWidth", CorpusCase::shows, corpusPicture(5, 7, 16), Encoding{4});
    good("Palette8Bit", CorpusCase::shows, corpusPicture(32, 32, 16), Encoding{8});
    good("Palette8BitOddWidth", CorpusCase::shows, corpusPicture(3, 3, 16), Encoding{8});
    // One runtime widens 5 bits by a shift, the other repeats the top bits:
    // up to 7 apart.
    good("Rgb16Bit", CorpusCase::shows, corpusPicture(32, 32, 16), Encoding{16}, 7);
    good("Rgb24Bit1x1", CorpusCase::shows, corpusPicture(1, 1, 16), Encoding{24});
    good("Rgb24Bit3x3", CorpusCase::shows, corpusPicture(3, 3, 16), Encoding{24});
    good("Rgb24Bit5x7", CorpusCase::shows, corpusPicture(5, 7, 16), Encoding{24});
    good("Rgb32Bit", CorpusCase::shows, corpusPicture(32, 32, 16), Encoding{32});
    good("Rgb32BitOddWidth", CorpusCase::shows, corpusPicture(5, 7, 16), Encoding{32});
    good("TopDown24Bit", CorpusCase::shows, corpusPicture(32, 32, 16), Encoding{24, true});
    good("TopDown8Bit", CorpusCase::shows, corpusPicture(5, 7, 16), Encoding{8, true});
    good("RunLength8Bit", CorpusCase::showsOrRefused, corpusPicture(32, 32, 16),
         Encoding{8, false, true});
    // Most of its runs are one pixel long: each next run starts in the middle
    // of a byte, which a reader counting runs in whole bytes gets wrong.
    good("RunLength4Bit", CorpusCase::showsOrRefused, corpusPicture(32, 32, 16),
         Encoding{4, false, true});

    const std::vector<uint8_t> whole = encodeBmp(corpusPicture(32, 32, 16), Encoding{24});
    for (size_t cut :
         {(size_t)2, (size_t)14, (size_t)30, (size_t)54, (size_t)54 + 96 * 16, whole.size() - 1})
        bad("TruncatedAt" + std::to_string(cut),
            std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
    Picture none;
    bad("ZeroSized", encodeBmp(none, Encoding{24}));
    Picture noRows = corpusPicture(32, 1, 16);
    noRows.height = 0;
    noRows.pixels.clear();
    bad("ZeroHeight", encodeBmp(noRows, Encoding{24}));
    // A 4 KB file claiming 64 x 11,206,704 pixels: the pixel data's end
    // overflows an int, and the allocation would be about 2 GB.
    std::vector<uint8_t> enormous = encodeBmp(corpusPicture(64, 16, 16), Encoding{24});
    enormous.resize(4096);
    put32(enormous, 22, 11206704);
    bad("EnormousHeight", enormous);
    put32(enormous, 18, 100000);
    put32(enormous, 22, (uint32_t)-100000);
    bad("EnormousTopDown", enormous);
    put32(enormous, 18, 8192); // within many GL limits, over the loader's own cap
    put32(enormous, 22, 8192);
    bad("OverTheCap", enormous);
    bad("Empty", {});
    std::mt19937 random(20240607);
    std::vector<uint8_t> noise(4096);
    for (uint8_t &b : noise)
        b = (uint8_t)random();
    bad("RandomBytes", noise);
    noise[0] = 'B';
    noise[1] = 'M';
    bad("RandomAfterMagic", noise);
    return cases;
}

#endif
