#include "engine/sound/declared_length.h"

#include <sys/stat.h>

#include <cstring>

#include "engine/sound/output_format.h"
#include "engine/sound/sound_file_open_lock.h"

namespace varkel::engine {

namespace {

// The data chunk's size in bytes, without the bytes before the samples;
// -1 when the file has no such chunk or marks its size as unknown.
std::int64_t dataBytes(SNDFILE* file, const char* id, std::int64_t header) {
    SF_CHUNK_INFO wanted{};
    std::strcpy(wanted.id, id);
    wanted.id_size = 4;
    SF_CHUNK_ITERATOR* chunk = sf_get_chunk_iterator(file, &wanted);
    SF_CHUNK_INFO found{};
    if (chunk == nullptr || sf_get_chunk_size(chunk, &found) != SF_ERR_NO_ERROR) return -1;
    // Writers that stream without seeking back leave 0 or all ones.
    if (found.datalen == 0 || found.datalen == 0xFFFFFFFFu) return -1;
    return static_cast<std::int64_t>(found.datalen) - header;
}

}  // namespace

std::int64_t declaredFrames(const std::string& path, const SF_INFO& info) {
    const int major = info.format & SF_FORMAT_TYPEMASK;
    const int bytes = bytesPerSample(info.format);
    const bool chunked = major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_AIFF;
    struct stat status {};
    // A second open would consume a pipe.
    if (!chunked || bytes == 0 || ::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return info.frames;
    SF_INFO again{};
    SNDFILE* file = nullptr;
    {
        const std::lock_guard lock(soundFileOpenLock());
        file = sf_open(path.c_str(), SFM_READ, &again);
    }
    if (file == nullptr) return info.frames;
    // AIFF's sound data chunk starts with an offset and a block size.
    const std::int64_t data =
        major == SF_FORMAT_AIFF ? dataBytes(file, "SSND", 8) : dataBytes(file, "data", 0);
    sf_close(file);
    const std::int64_t frames = data / (static_cast<std::int64_t>(bytes) * info.channels);
    return data > 0 && frames > info.frames ? frames : info.frames;
}

}  // namespace varkel::engine
