// Samples set aside on disk while a whole output is measured, then read back
// in order: kept in the machine's own format in a file without a name in the
// output's folder (removed as soon as it is made), so nothing is left
// behind however the process ends, and memory stays the same however long
// the output is.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace varkel::engine {

class SampleSpool {
public:
    explicit SampleSpool(const std::string& folder);
    ~SampleSpool();
    SampleSpool(const SampleSpool&) = delete;
    SampleSpool& operator=(const SampleSpool&) = delete;

    template <typename Sample>
    void write(const Sample* samples, std::size_t count) {
        writeBytes(samples, count * sizeof(Sample));
    }
    // From the start again, for reading.
    void rewind();
    // Up to count samples; returns how many, 0 at the end.
    template <typename Sample>
    std::size_t read(Sample* samples, std::size_t count) {
        return readBytes(samples, count * sizeof(Sample)) / sizeof(Sample);
    }

private:
    void writeBytes(const void* bytes, std::size_t size);
    std::size_t readBytes(void* bytes, std::size_t size);

    std::string folder;
    std::FILE* file = nullptr;
};

}  // namespace varkel::engine
