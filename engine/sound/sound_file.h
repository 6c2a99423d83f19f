// Sound files through libsndfile: an input checked up front so that every
// way it can be wrong gets its own message, and an output that is written to
// a temporary file beside its destination and renamed only when complete.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>

#include "engine/sound/buffered_output_file.h"
#include "engine/sound/frame_source.h"

namespace varkel::engine {

class SoundFileReader : public FrameSource {
public:
    // Throws EngineError naming the file when it is missing, unreadable,
    // empty, undecodable or holds no audio.
    explicit SoundFileReader(const std::string& path);
    ~SoundFileReader() override;
    SoundFileReader(const SoundFileReader&) = delete;
    SoundFileReader& operator=(const SoundFileReader&) = delete;

    const SF_INFO& info() const { return fileInfo; }
    int channels() const override { return fileInfo.channels; }
    int sampleRate() const { return fileInfo.samplerate; }
    const std::string& path() const { return filePath; }

    sf_count_t read(float* frames, sf_count_t count) override;
    sf_count_t read(double* frames, sf_count_t count) override;
    void checkReadError() const override;
    // The frame read next: frames read so far, or where seek() put it.
    std::int64_t framesRead() const { return readFrames; }
    // Throws EngineError for a frame past the end or a file that cannot seek.
    void seek(std::int64_t frame);

private:
    std::string filePath;
    SF_INFO fileInfo{};
    SNDFILE* file = nullptr;
    std::int64_t readFrames = 0;
};

class SoundFileWriter {
public:
    // Creates the temporary file beside destination (beside the file it
    // leads to, when it is a symbolic link). Integer formats clip
    // instead of wrapping around. An RF64 format with downgradeToWav ends as
    // plain WAV when the file stays small enough for one.
    SoundFileWriter(const std::string& destination, int format, int channels, int sampleRate,
                    bool downgradeToWav = false);
    // Removes the temporary file unless commit() succeeded.
    ~SoundFileWriter();
    SoundFileWriter(const SoundFileWriter&) = delete;
    SoundFileWriter& operator=(const SoundFileWriter&) = delete;

    void write(const float* frames, sf_count_t count);
    void write(const double* frames, sf_count_t count);
    // Integer samples with the output's bits at the top.
    void write(const std::int16_t* frames, sf_count_t count);
    void write(const std::int32_t* frames, sf_count_t count);
    // Flushes, closes and renames onto the destination; with replace false,
    // fails instead when the destination has appeared meanwhile.
    void commit(bool replace = true);
    const std::string& path() const { return destinationPath; }
    // Flushes and closes the file but leaves it under its temporary name,
    // which it returns, for the caller to read and remove: a stream that has
    // to change container midway starts again from it.
    std::string closeAside();

private:
    void closeFile();
    // Closes, writing the header, and flushes to the disk.
    void finishFile();
    void checkWritten(sf_count_t written, sf_count_t count);
    // What went wrong, from the file when it knows, else from libsndfile.
    std::string failureText(const char* fromLibrary) const;

    std::string destinationPath;
    std::string targetPath;  // where a symbolic link at destination leads
    std::string temporaryPath;
    std::unique_ptr<BufferedOutputFile> stream;
    SNDFILE* file = nullptr;
    bool committed = false;
};

// The file a name leads to, through any symbolic links (which may dangle):
// where an output is written, so that the links stay.
std::string outputTarget(const std::string& path);

// Throws when OUT cannot be written as asked: its folder is missing, it is
// a folder, a device, FIFO or socket (also through a symbolic link), or it
// is the input itself.
void checkOutputPath(const std::string& input, const std::string& output);

}  // namespace varkel::engine
