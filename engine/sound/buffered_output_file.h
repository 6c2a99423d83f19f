// An output file behind libsndfile's virtual I/O: what libsndfile writes is
// gathered in a large buffer and goes to the file a megabyte at a time (or
// more at once, when libsndfile hands over that much), so a render makes a
// few hundred system calls rather than thousands. Each stretch
// written is handed to the kernel's writeback at once, so the one fsync
// before the rename finds little left to do.
#pragma once

#include <sndfile.h>

#include <cstddef>
#include <memory>

namespace varkel::engine {

class BufferedOutputFile {
public:
    static constexpr std::size_t kBufferBytes = std::size_t{1} << 20;

    // Takes the descriptor, open for reading and writing, and closes it.
    explicit BufferedOutputFile(int descriptor);
    ~BufferedOutputFile();
    BufferedOutputFile(const BufferedOutputFile&) = delete;
    BufferedOutputFile& operator=(const BufferedOutputFile&) = delete;

    // For sf_open_virtual with this object as the user data.
    static SF_VIRTUAL_IO& callbacks();

    sf_count_t write(const void* bytes, sf_count_t count);
    sf_count_t read(void* bytes, sf_count_t count);
    sf_count_t seek(sf_count_t offset, int whence);
    sf_count_t tell() const { return position; }
    sf_count_t length() const { return fileEnd; }

    // Writes what is buffered and waits until the file is on the disk;
    // false on failure, with failure() telling why.
    bool sync();
    // errno of the first failure, 0 if none.
    int failure() const { return error; }

private:
    bool flush();
    // Writes bytes at the offset, and starts their writeback.
    bool writeAt(const unsigned char* from, std::size_t bytes, sf_count_t at);

    int descriptor;
    std::unique_ptr<unsigned char[]> buffer;
    sf_count_t bufferStart = 0;  // the file offset of buffer[0]
    std::size_t buffered = 0;
    sf_count_t position = 0;     // where the next write or read goes
    sf_count_t fileEnd = 0;      // bytes in the file, buffered ones included
    int error = 0;
};

}  // namespace varkel::engine
