#include "engine/sound/buffered_output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace varkel::engine {

namespace {

BufferedOutputFile& of(void* file) { return *static_cast<BufferedOutputFile*>(file); }

}  // namespace

BufferedOutputFile::BufferedOutputFile(int descriptor)
    : descriptor(descriptor), buffer(new unsigned char[kBufferBytes]) {
    struct stat status {};
    if (::fstat(descriptor, &status) == 0) fileEnd = status.st_size;
}

BufferedOutputFile::~BufferedOutputFile() { ::close(descriptor); }

SF_VIRTUAL_IO& BufferedOutputFile::callbacks() {
    static SF_VIRTUAL_IO io{
        [](void* file) { return of(file).length(); },
        [](sf_count_t offset, int whence, void* file) { return of(file).seek(offset, whence); },
        [](void* bytes, sf_count_t count, void* file) { return of(file).read(bytes, count); },
        [](const void* bytes, sf_count_t count, void* file) { return of(file).write(bytes, count); },
        [](void* file) { return of(file).tell(); },
    };
    return io;
}

bool BufferedOutputFile::writeAt(const unsigned char* from, std::size_t bytes, sf_count_t at) {
    const sf_count_t start = at;
    for (std::size_t left = bytes; left > 0;) {
        const ssize_t written = ::pwrite(descriptor, from, left, at);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (error == 0) error = written < 0 ? errno : EIO;
            return false;
        }
        from += written;
        left -= static_cast<std::size_t>(written);
        at += written;
    }
    // Only a hint: file systems that cannot take it leave it to the fsync.
    if (bytes > 0)
        ::sync_file_range(descriptor, start, static_cast<off_t>(bytes), SYNC_FILE_RANGE_WRITE);
    return true;
}

bool BufferedOutputFile::flush() {
    if (!writeAt(buffer.get(), buffered, bufferStart)) return false;
    bufferStart += static_cast<sf_count_t>(buffered);
    buffered = 0;
    return true;
}

sf_count_t BufferedOutputFile::write(const void* bytes, sf_count_t count) {
    if (error != 0 || count <= 0) return 0;
    // The buffer holds one contiguous stretch; a write elsewhere (a header
    // rewritten after a seek) starts a new one.
    if (buffered > 0 && position != bufferStart + static_cast<sf_count_t>(buffered) && !flush())
        return 0;
    if (buffered == 0) bufferStart = position;
    const auto* from = static_cast<const unsigned char*>(bytes);
    auto left = static_cast<std::size_t>(count);
    while (left > 0) {
        // A whole buffer's worth or more goes to the file as it is, uncopied.
        if (buffered == 0 && left >= kBufferBytes) {
            if (!writeAt(from, left, bufferStart)) return 0;
            bufferStart += static_cast<sf_count_t>(left);
            break;
        }
        const std::size_t part = std::min(left, kBufferBytes - buffered);
        std::memcpy(buffer.get() + buffered, from, part);
        buffered += part;
        from += part;
        left -= part;
        if (buffered == kBufferBytes && !flush()) return 0;
    }
    position += count;
    fileEnd = std::max(fileEnd, position);
    return count;
}

sf_count_t BufferedOutputFile::read(void* bytes, sf_count_t count) {
    if (!flush() || count <= 0) return 0;
    auto* to = static_cast<unsigned char*>(bytes);
    sf_count_t got = 0;
    while (got < count) {
        const ssize_t n = ::pread(descriptor, to + got, static_cast<std::size_t>(count - got), position + got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += n;
    }
    position += got;
    return got;
}

sf_count_t BufferedOutputFile::seek(sf_count_t offset, int whence) {
    const sf_count_t base = whence == SEEK_CUR ? position : whence == SEEK_END ? fileEnd : 0;
    if (base + offset < 0) return -1;
    position = base + offset;
    return position;
}

bool BufferedOutputFile::sync() {
    if (!flush()) return false;
    if (::fsync(descriptor) != 0) {
        if (error == 0) error = errno;
        return false;
    }
    return true;
}

}  // namespace varkel::engine
