// The sprite loader hands the texture upload one layout only, 24-bit rows of
// blue, green, red padded to four bytes, whatever the file's depth; files SDL
// cannot read give nothing. No display is needed.
#include "../../tools/bmpcorpus.h"
#include "render/render.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <unistd.h>

namespace
{

struct Case {
    int width, height, bits;
};

class SpriteLoad : public testing::TestWithParam<Case>
{
};

Rgb colourAt(int x, int y)
{
    return Rgb{(uint8_t)(40 * x + 7), (uint8_t)(30 * y + 3), (uint8_t)(x * y * 11)};
}

std::string scratchFile(const char *tag)
{
    return testing::TempDir() + "sprite-" + tag + "-" + std::to_string(getpid()) + ".bmp";
}

TEST_P(SpriteLoad, GivesBgrRowsOnFourByteBoundaries)
{
    const Case c = GetParam();
    std::vector<Rgb> pixels;
    for (int y = 0; y < c.height; y++)
        for (int x = 0; x < c.width; x++)
            pixels.push_back(colourAt(x, y));
    const std::string path = scratchFile("depth");
    ASSERT_TRUE(writeBmp(path.c_str(), c.width, c.height, pixels, c.bits));
    SDL_Surface *image = loadSpriteImage(path.c_str(), 4096);
    unlink(path.c_str());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->w, c.width);
    EXPECT_EQ(image->h, c.height);
    EXPECT_EQ(image->format->BytesPerPixel, 3);
    EXPECT_EQ(image->pitch, (c.width * 3 + 3) & ~3) << "rows must match GL's unpack alignment";
    const uint8_t *bytes = (const uint8_t *)image->pixels;
    for (int y = 0; y < c.height; y++)
        for (int x = 0; x < c.width; x++) {
            const uint8_t *p = bytes + y * image->pitch + 3 * x;
            const Rgb want = colourAt(x, y); // row 0 is the top of the picture
            ASSERT_EQ(p[0], want.b) << x << "," << y;
            ASSERT_EQ(p[1], want.g) << x << "," << y;
            ASSERT_EQ(p[2], want.r) << x << "," << y;
        }
    SDL_FreeSurface(image);
}

INSTANTIATE_TEST_SUITE_P(Depths, SpriteLoad,
                         testing::Values(Case{3, 3, 24}, Case{5, 7, 24}, Case{1, 1, 24},
                                         Case{5, 7, 8}, Case{3, 5, 32}, Case{4, 4, 32}));

TEST(SpriteLoadFailure, MissingOrNotABmpGivesNothing)
{
    EXPECT_EQ(loadSpriteImage("no/such/sprite.bmp", 4096), nullptr);
    const std::string path = scratchFile("text");
    std::ofstream(path) << "not a picture\n";
    EXPECT_EQ(loadSpriteImage(path.c_str(), 4096), nullptr);
    unlink(path.c_str());
}

SDL_Surface *fromMemory(const std::vector<uint8_t> &bytes, int largestSide)
{
    return loadSpriteImageFrom(SDL_RWFromConstMem(bytes.data(), (int)bytes.size()), largestSide);
}

// The same outcomes straight from memory as the program shows on screen.
TEST(SpriteLoadCorpus, RefusedFilesGiveNothingAndTheRestLoad)
{
    for (const CorpusCase &c : spriteCorpus()) {
        if (c.folder)
            continue;
        SDL_Surface *image = fromMemory(c.bytes, 16384);
        if (c.outcome == CorpusCase::refused) {
            EXPECT_EQ(image, nullptr) << c.name;
        }
        if (c.outcome == CorpusCase::shows) {
            EXPECT_NE(image, nullptr) << c.name;
        }
        if (image) {
            EXPECT_EQ(image->w, c.picture.width) << c.name;
            EXPECT_EQ(image->h, c.picture.height) << c.name;
        }
        SDL_FreeSurface(image);
    }
}

// The side limit the GL implementation reports counts, on either side.
TEST(SpriteLoadCorpus, SidesOverTheGivenLimitAreRefused)
{
    const std::vector<uint8_t> wide = encodeBmp(corpusPicture(64, 16, 4), Encoding{24});
    const std::vector<uint8_t> tall = encodeBmp(corpusPicture(16, 64, 4), Encoding{24});
    for (const std::vector<uint8_t> *bytes : {&wide, &tall}) {
        EXPECT_EQ(fromMemory(*bytes, 63), nullptr);
        SDL_Surface *image = fromMemory(*bytes, 64);
        EXPECT_NE(image, nullptr);
        SDL_FreeSurface(image);
    }
}

} // namespace
