// lzari-pack IN OUT: packs IN into the container the program carries (4-byte
// little-endian length, then the LZARI stream).

#include <cstdio>
#include <stdexcept>

#include "tools/file_io.h"
#include "tools/lzari_packer.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: lzari-pack IN OUT\n");
        return 2;
    }
    const auto raw = ReadWholeFile(argv[1]);
    if (!raw) {
        std::fprintf(stderr, "lzari-pack: cannot read %s\n", argv[1]);
        return 1;
    }
    try {
        const auto packed = PackLzari(*raw);
        if (!WriteWholeFile(argv[2], packed)) {
            std::fprintf(stderr, "lzari-pack: cannot write %s\n", argv[2]);
            return 1;
        }
    } catch (const std::length_error&) {
        std::fprintf(stderr, "lzari-pack: %s is too large for a 32-bit length\n", argv[1]);
        return 1;
    }
    return 0;
}
