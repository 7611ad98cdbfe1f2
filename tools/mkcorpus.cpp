// SPDX-License-Identifier: MIT
// Writes the sprite corpus as files, one per case, to seed the fuzzer or to
// look at by hand.
//
//   mkcorpus OUT_DIR
#include "bmpcorpus.h"

#include <string>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: mkcorpus OUT_DIR\n");
        return 2;
    }
    for (const CorpusCase &c : spriteCorpus()) {
        const std::string path = std::string(argv[1]) + "/" + c.name + ".bmp";
        FILE *out = fopen(path.c_str(), "wb");
        if (!out || fwrite(c.bytes.data(), 1, c.bytes.size(), out) != c.bytes.size() ||
            fclose(out) != 0) {
            perror(path.c_str());
            return 1;
        }
    }
    return 0;
}
