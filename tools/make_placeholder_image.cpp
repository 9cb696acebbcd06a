// Writes the placeholder firmware image: 253 pages of 4096 bytes from a fixed xorshift32
// sequence, so that anyone can make the same file again and every page differs from the next.
// Usage: make-placeholder-image OUTPUT
#include <cstdint>
#include <cstdio>
#include <vector>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    constexpr std::size_t kImageSize = 253 * 4096;
    std::vector<unsigned char> image(kImageSize);
    std::uint32_t state = 0x7A0E1604u;  // fixed seed: the same file on every machine
    for (unsigned char &byte : image) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<unsigned char>(state >> 24);
    }
    std::FILE *out = std::fopen(argv[1], "wb");
    if (out == nullptr || std::fwrite(image.data(), 1, image.size(), out) != image.size() ||
        std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
