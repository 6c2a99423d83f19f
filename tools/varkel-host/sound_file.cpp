#include "tools/varkel-host/sound_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "tools/varkel-host/tool_error.h"

namespace varkel::tool {

namespace fs = std::filesystem;

namespace {

std::string systemError() { return std::strerror(errno); }

std::string folderOf(const std::string& path) {
    const fs::path folder = fs::path(path).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

const char* sampleFormatWord(int subtype) {
    switch (subtype) {
        case SF_FORMAT_FLOAT:
            return "32-bit float";
        case SF_FORMAT_PCM_24:
            return "24-bit integer";
        case SF_FORMAT_PCM_16:
            return "16-bit integer";
        default:
            return "these";
    }
}

bool formatFits(int format, int channels, int sampleRate) {
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = sampleRate;
    return sf_format_check(&info) != 0;
}

}  // namespace

// --- input ---

SoundFileReader::SoundFileReader(const std::string& path) : filePath(path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status)) throw ToolError(path + ": no such file");
    if (fs::is_directory(status)) throw ToolError(path + " is a folder, not a sound file");

    // Opened once by hand so that a permission problem is told as one,
    // rather than as a file libsndfile cannot decode.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) throw ToolError(path + ": cannot read it (" + systemError() + ")");
    struct stat fileStatus {};
    const bool empty = ::fstat(descriptor, &fileStatus) == 0 && S_ISREG(fileStatus.st_mode) &&
                       fileStatus.st_size == 0;
    ::close(descriptor);
    if (empty) throw ToolError(path + " is empty");

    file = sf_open(path.c_str(), SFM_READ, &fileInfo);
    if (file == nullptr)
        throw ToolError(path + ": not a sound file libsndfile can decode (" + sf_strerror(nullptr) +
                        ")");
    // The destructor does not run for a constructor that throws.
    const char* problem = fileInfo.frames <= 0 ? " holds no audio frames"
                          : fileInfo.channels < 1 || fileInfo.samplerate < 1
                              ? " declares no channels or no sample rate"
                              : nullptr;
    if (problem != nullptr) {
        sf_close(file);
        file = nullptr;
        throw ToolError(path + problem);
    }
}

SoundFileReader::~SoundFileReader() {
    if (file != nullptr) sf_close(file);
}

sf_count_t SoundFileReader::read(float* frames, sf_count_t count) {
    return sf_readf_float(file, frames, count);
}

sf_count_t SoundFileReader::read(double* frames, sf_count_t count) {
    return sf_readf_double(file, frames, count);
}

void SoundFileReader::checkReadError() const {
    if (sf_error(file) != SF_ERR_NO_ERROR)
        throw ToolError(filePath + ": reading failed (" + sf_strerror(file) + ")");
}

// --- output ---

SoundFileWriter::SoundFileWriter(const std::string& destination, int format, int channels,
                                 int sampleRate)
    : destinationPath(destination) {
    // Hidden and unique, in the destination's folder so that the final
    // rename stays on one file system and is atomic.
    std::string hiddenName = ".";
    hiddenName += fs::path(destination).filename().string();
    hiddenName += ".XXXXXX";
    const std::string pattern = (fs::path(folderOf(destination)) / hiddenName).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    const int descriptor = ::mkstemp(name.data());
    if (descriptor < 0)
        throw ToolError(destination + ": cannot create a file in " + folderOf(destination) + " (" +
                        systemError() + ")");
    temporaryPath = name.data();
    // mkstemp makes the file private; the result gets the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(descriptor, 0666 & ~mask);
    ::close(descriptor);

    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = sampleRate;
    file = sf_open(temporaryPath.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        ::unlink(temporaryPath.c_str());
        throw ToolError(destination + ": libsndfile cannot write it (" + sf_strerror(nullptr) +
                        ")");
    }
    if (isIntegerFormat(format)) sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // The peak chunk carries the time of writing, which would make two
    // renders of the same input differ.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
}

SoundFileWriter::~SoundFileWriter() {
    closeFile();
    if (!committed && !temporaryPath.empty()) ::unlink(temporaryPath.c_str());
}

void SoundFileWriter::checkWritten(sf_count_t written, sf_count_t count) {
    if (written != count)
        throw ToolError(destinationPath + ": writing failed (" + sf_strerror(file) + ")");
}

void SoundFileWriter::write(const float* frames, sf_count_t count) {
    checkWritten(sf_writef_float(file, frames, count), count);
}

void SoundFileWriter::write(const double* frames, sf_count_t count) {
    checkWritten(sf_writef_double(file, frames, count), count);
}

void SoundFileWriter::closeFile() {
    if (file == nullptr) return;
    sf_close(file);
    file = nullptr;
}

void SoundFileWriter::commit() {
    sf_write_sync(file);
    const int closeError = sf_close(file);
    file = nullptr;
    if (closeError != 0)
        throw ToolError(destinationPath + ": writing failed (" + sf_error_number(closeError) + ")");
    if (std::rename(temporaryPath.c_str(), destinationPath.c_str()) != 0)
        throw ToolError(destinationPath + ": cannot put the finished file in place (" +
                        systemError() + ")");
    committed = true;
}

// --- formats and paths ---

bool isIntegerFormat(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE:
        case SF_FORMAT_VORBIS:
        case SF_FORMAT_OPUS:
            return false;
        default:
            return true;
    }
}

std::string containerName(int format) {
    SF_FORMAT_INFO info{};
    info.format = format & SF_FORMAT_TYPEMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof(info)) != 0 || info.name == nullptr)
        return "this";
    return info.name;
}

int outputFormatFor(int inputFormat, SampleFormat requested, int channels, int sampleRate,
                    const std::string& outputPath) {
    const int container = inputFormat & SF_FORMAT_TYPEMASK;
    int subtype = 0;
    switch (requested) {
        case SampleFormat::SameAsInput:
            subtype = inputFormat & SF_FORMAT_SUBMASK;
            break;
        case SampleFormat::Float:
            subtype = SF_FORMAT_FLOAT;
            break;
        case SampleFormat::Pcm24:
            subtype = SF_FORMAT_PCM_24;
            break;
        case SampleFormat::Pcm16:
            subtype = SF_FORMAT_PCM_16;
            break;
    }
    if (formatFits(container | subtype, channels, sampleRate)) return container | subtype;
    if (requested == SampleFormat::SameAsInput) {
        // The input's sample format may be one libsndfile only reads.
        for (const int fallback : {SF_FORMAT_FLOAT, SF_FORMAT_PCM_24, SF_FORMAT_PCM_16})
            if (formatFits(container | fallback, channels, sampleRate)) return container | fallback;
        throw ToolError(outputPath + ": libsndfile cannot write a " + containerName(inputFormat) +
                        " file with " + std::to_string(channels) + " channels at " +
                        std::to_string(sampleRate) + " Hz");
    }
    throw ToolError(outputPath + ": a " + containerName(inputFormat) + " file cannot hold " +
                    sampleFormatWord(subtype) + " samples (--format)");
}

void checkOutputPath(const std::string& input, const std::string& output) {
    std::error_code error;
    const std::string folder = folderOf(output);
    if (!fs::exists(folder, error)) throw ToolError("output folder " + folder + " does not exist");
    if (!fs::is_directory(folder, error)) throw ToolError(folder + " is not a folder");
    if (fs::is_directory(output, error))
        throw ToolError(output + " is a folder; OUT must be a file");
    if (fs::exists(output, error) && fs::equivalent(input, output, error))
        throw ToolError(output + " is the input file; choose another OUT");
}

}  // namespace varkel::tool
