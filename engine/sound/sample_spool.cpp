#include "engine/sound/sample_spool.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "engine/engine_error.h"
#include "engine/sound/temporary_files.h"

namespace varkel::engine {

SampleSpool::SampleSpool(const std::string& folder) : folder(folder) {
    std::string pattern = temporaryPattern(folder);
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int descriptor = ::mkostemp(name.data(), O_CLOEXEC);
    if (descriptor < 0)
        throw EngineError(folder + ": cannot make a file to hold the output while it is measured (" +
                          std::strerror(errno) + ")");
    ::unlink(name.data());
    file = ::fdopen(descriptor, "w+b");
    if (file == nullptr) {
        ::close(descriptor);
        throw EngineError(folder + ": cannot open the file that holds the output while it is "
                          "measured (" + std::strerror(errno) + ")");
    }
}

SampleSpool::~SampleSpool() {
    if (file != nullptr) std::fclose(file);
}

void SampleSpool::writeBytes(const void* bytes, std::size_t size) {
    if (std::fwrite(bytes, 1, size, file) != size)
        throw EngineError(folder + ": writing the output aside while it is measured failed (" +
                          std::strerror(errno) + ")");
}

void SampleSpool::rewind() {
    if (std::fflush(file) != 0 || std::fseek(file, 0, SEEK_SET) != 0)
        throw EngineError(folder + ": writing the output aside while it is measured failed (" +
                          std::strerror(errno) + ")");
}

std::size_t SampleSpool::readBytes(void* bytes, std::size_t size) {
    const std::size_t got = std::fread(bytes, 1, size, file);
    if (got < size && std::ferror(file))
        throw EngineError(folder + ": reading back the output set aside failed (" +
                          std::strerror(errno) + ")");
    return got;
}

}  // namespace varkel::engine
