#include "engine/sound/tpdf_dither.h"

#include <filesystem>

namespace varkel::engine {

std::uint64_t ditherSeed(const std::string& outputPath) {
    // 64-bit FNV-1a: std::hash differs between libraries.
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (const char c : std::filesystem::path(outputPath).filename().string()) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001B3ULL;
    }
    return hash;
}

}  // namespace varkel::engine
