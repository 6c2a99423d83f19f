// The memory an isolated plug-in's parent and child share: a memfd both map,
// which either side grows (the other follows at its next call), and the
// futex waits and wakes on its words.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "engine/plugins/isolated/isolation_protocol.h"

namespace varkel::engine::isolated {

class SharedRegion {
public:
    // A new region of size bytes, zeroed; throws EngineError.
    static SharedRegion create(std::size_t size);
    // The region a parent handed over as fd.
    static SharedRegion attach(int fd);

    SharedRegion(SharedRegion&& other) noexcept;
    SharedRegion& operator=(SharedRegion&& other) noexcept;
    ~SharedRegion();

    int fd() const { return descriptor; }
    std::size_t size() const { return mapped; }
    RegionHeader& header() const { return *reinterpret_cast<RegionHeader*>(base); }
    char* at(std::size_t offset) const { return base + offset; }

    // The data area, from its offset to the end.
    char* data() const { return at(dataOffset(header())); }
    std::size_t dataCapacity() const { return mapped - dataOffset(header()); }
    // Grows (never shrinks) so that the data area holds bytes; the new size
    // goes into the header for the other side.
    void reserveData(std::size_t bytes);
    // Maps the size the other side left in the header, if it grew it.
    void follow();

private:
    SharedRegion(int fd, char* base, std::size_t size) : descriptor(fd), base(base), mapped(size) {}
    void remap(std::size_t size);

    int descriptor = -1;
    char* base = nullptr;
    std::size_t mapped = 0;
};

// Wakes whoever waits on word.
void wakeWaiter(std::atomic<std::uint32_t>& word);
// Waits while word holds value, for at most timeout; true once it changed.
bool waitWhileEqual(std::atomic<std::uint32_t>& word, std::uint32_t value,
                    std::chrono::nanoseconds timeout);

}  // namespace varkel::engine::isolated
