// Reads a fuzzer's input front to back as the fields of a call sequence.
// Past the end every read gives zeros, so any input decodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}
    bool empty() const { return pos >= size; }
    std::uint8_t byte() { return pos < size ? data[pos++] : 0; }

    template <typename T>
    T raw() {
        unsigned char bytes[sizeof(T)];
        for (auto& b : bytes) b = byte();
        T value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }

    // A tag byte below 0x80 picks one of the special values (the ones that
    // break code most often, so the fuzzer meets them early); any other tag
    // is followed by the value's own bytes, little-endian.
    template <typename T, std::size_t N>
    T pick(const T (&specials)[N]) {
        const std::uint8_t tag = byte();
        return tag < 0x80 ? specials[tag % N] : raw<T>();
    }

private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
};
