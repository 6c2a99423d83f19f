// Compares two sound files sample by sample, bit for bit, with their channel
// counts, rates and lengths; headers and extra chunks may differ. Samples are
// read as 32-bit floats, which is exact for float files.
// Usage: same_samples A B; exit 0 when the same, 1 when not, 2 on error.
#include <sndfile.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

struct Sound {
    SF_INFO info{};
    std::vector<float> samples;
};

bool read(const char* path, Sound& sound) {
    SNDFILE* file = sf_open(path, SFM_READ, &sound.info);
    if (file == nullptr) {
        std::fprintf(stderr, "%s: %s\n", path, sf_strerror(nullptr));
        return false;
    }
    sound.samples.resize(static_cast<std::size_t>(sound.info.frames * sound.info.channels));
    const sf_count_t got = sf_readf_float(file, sound.samples.data(), sound.info.frames);
    sf_close(file);
    if (got != sound.info.frames) std::fprintf(stderr, "%s: short read\n", path);
    return got == sound.info.frames;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: same_samples A B\n");
        return 2;
    }
    Sound a, b;
    if (!read(argv[1], a) || !read(argv[2], b)) return 2;
    if (a.info.channels != b.info.channels || a.info.samplerate != b.info.samplerate ||
        a.info.frames != b.info.frames) {
        std::printf("differ: %d/%d channels, %d/%d Hz, %lld/%lld frames\n", a.info.channels,
                    b.info.channels, a.info.samplerate, b.info.samplerate,
                    static_cast<long long>(a.info.frames), static_cast<long long>(b.info.frames));
        return 1;
    }
    for (std::size_t i = 0; i < a.samples.size(); ++i)
        if (std::bit_cast<std::uint32_t>(a.samples[i]) !=
            std::bit_cast<std::uint32_t>(b.samples[i])) {
            std::printf("differ: frame %zu channel %zu: %.9g against %.9g\n", i / a.info.channels,
                        i % a.info.channels, a.samples[i], b.samples[i]);
            return 1;
        }
    std::printf("same: %lld frames of %d channels at %d Hz\n",
                static_cast<long long>(a.info.frames), a.info.channels, a.info.samplerate);
    return 0;
}
