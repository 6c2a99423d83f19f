// Values laid end to end in a byte buffer and read back in the same order:
// how the parent and the child of an isolated plug-in pass what is not audio
// (names, parameter infos, state, messages). Both are the same build on the
// same machine, so the bytes are the values' own.
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace varkel::engine::isolated {

class WireWriter {
public:
    template <typename T>
        requires std::is_trivially_copyable_v<T>
    WireWriter& put(const T& value) {
        const auto* bytes = reinterpret_cast<const char*>(&value);
        data.append(bytes, sizeof value);
        return *this;
    }
    WireWriter& put(const std::string& text) {
        put(static_cast<std::uint64_t>(text.size()));
        data += text;
        return *this;
    }
    template <typename T>
    WireWriter& put(const std::vector<T>& values) {
        put(static_cast<std::uint64_t>(values.size()));
        for (const T& value : values) put(value);
        return *this;
    }
    const std::string& bytes() const { return data; }

private:
    std::string data;
};

class WireReader {
public:
    WireReader(const char* data, std::size_t size) : at(data), end(data + size) {}

    template <typename T>
        requires std::is_trivially_copyable_v<T>
    void get(T& value) {
        take(&value, sizeof value);
    }
    void get(std::string& text) {
        const std::size_t size = count();
        text.assign(at, size);
        at += size;
    }
    template <typename T>
    void get(std::vector<T>& values) {
        values.resize(count());
        for (T& value : values) get(value);
    }
    template <typename T>
    T next() {
        T value{};
        get(value);
        return value;
    }

private:
    std::size_t count() {
        std::uint64_t size = 0;
        get(size);
        if (size > static_cast<std::uint64_t>(end - at)) throw std::length_error("wire: cut short");
        return static_cast<std::size_t>(size);
    }
    void take(void* target, std::size_t size) {
        if (size > static_cast<std::size_t>(end - at)) throw std::length_error("wire: cut short");
        std::memcpy(target, at, size);
        at += size;
    }
    const char* at;
    const char* end;
};

}  // namespace varkel::engine::isolated
