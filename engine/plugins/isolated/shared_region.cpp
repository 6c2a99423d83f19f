#include "engine/plugins/isolated/shared_region.h"

#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "engine/engine_error.h"

namespace varkel::engine::isolated {

namespace {

[[noreturn]] void failed(const std::string& what) {
    throw EngineError("isolated plug-in: cannot " + what + ": " + std::strerror(errno));
}

char* mapShared(int fd, std::size_t size) {
    void* address = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) failed("map shared memory");
    return static_cast<char*>(address);
}

}  // namespace

SharedRegion SharedRegion::create(std::size_t size) {
    const int fd = ::memfd_create("varkel-isolated-plugin", MFD_CLOEXEC);
    if (fd < 0) failed("make shared memory");
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        ::close(fd);
        failed("size shared memory");
    }
    SharedRegion region(fd, nullptr, 0);
    region.base = mapShared(fd, size);
    region.mapped = size;
    region.header().regionSize = size;
    return region;
}

SharedRegion SharedRegion::attach(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) failed("read shared memory");
    const auto size = static_cast<std::size_t>(status.st_size);
    return SharedRegion(fd, mapShared(fd, size), size);
}

SharedRegion::SharedRegion(SharedRegion&& other) noexcept
    : descriptor(std::exchange(other.descriptor, -1)),
      base(std::exchange(other.base, nullptr)),
      mapped(std::exchange(other.mapped, 0)) {}

SharedRegion& SharedRegion::operator=(SharedRegion&& other) noexcept {
    std::swap(descriptor, other.descriptor);
    std::swap(base, other.base);
    std::swap(mapped, other.mapped);
    return *this;
}

SharedRegion::~SharedRegion() {
    if (base != nullptr) ::munmap(base, mapped);
    if (descriptor >= 0) ::close(descriptor);
}

void SharedRegion::remap(std::size_t size) {
    void* address = ::mremap(base, mapped, size, MREMAP_MAYMOVE);
    if (address == MAP_FAILED) failed("map shared memory");
    base = static_cast<char*>(address);
    mapped = size;
}

void SharedRegion::reserveData(std::size_t bytes) {
    const std::size_t needed = dataOffset(header()) + bytes;
    if (needed <= mapped) return;
    // Doubling keeps a state that grows call by call from remapping each time.
    const std::size_t size = std::max(needed, mapped * 2);
    if (::ftruncate(descriptor, static_cast<off_t>(size)) != 0) failed("grow shared memory");
    remap(size);
    header().regionSize = size;
}

void SharedRegion::follow() {
    const auto size = static_cast<std::size_t>(header().regionSize);
    if (size > mapped) remap(size);
}

void wakeWaiter(std::atomic<std::uint32_t>& word) {
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE, 1, nullptr, nullptr, 0);
}

bool waitWhileEqual(std::atomic<std::uint32_t>& word, std::uint32_t value,
                    std::chrono::nanoseconds timeout) {
    // No spinning first: with the two processes on fewer cores than want
    // them, a spin only keeps the other side from running (measured: a
    // round trip of 6 us without, tens to hundreds of us with).
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    const timespec wait{static_cast<time_t>(seconds.count()),
                        static_cast<long>((timeout - seconds).count())};
    if (word.load(std::memory_order_acquire) != value) return true;
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT, value, &wait, nullptr, 0);
    return word.load(std::memory_order_acquire) != value;
}

}  // namespace varkel::engine::isolated
