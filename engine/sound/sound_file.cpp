#include "engine/sound/sound_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "engine/sound/output_format.h"
#include "engine/sound/sound_file_open_lock.h"
#include "engine/sound/temporary_files.h"
#include "engine/engine_error.h"

namespace varkel::engine {

namespace fs = std::filesystem;

namespace {

std::string systemError() { return std::strerror(errno); }

// libsndfile's text for the last failed open, taken under the lock the open
// held.
std::string lastOpenError() { return sf_strerror(nullptr); }

std::string folderOf(const std::string& path) {
    const fs::path folder = fs::path(path).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

// Fails with EEXIST when target exists, also when another process creates
// it meanwhile. File systems without the rename flag get a hard link.
bool renameWithoutReplacing(const std::string& source, const std::string& target) {
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (::link(source.c_str(), target.c_str()) != 0) return false;
    ::unlink(source.c_str());
    return true;
}

// Makes the rename that put a file in folder survive a power cut; a file
// system that cannot flush a folder says EINVAL.
void syncFolder(const std::string& folder, const std::string& file) {
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return;
    const int result = ::fsync(descriptor);
    const int error = errno;
    ::close(descriptor);
    if (result != 0 && error != EINVAL)
        throw EngineError(file + ": in place, but its folder could not be flushed to the disk (" +
                          std::strerror(error) + ")");
}

}  // namespace

std::string outputTarget(const std::string& path) {
    fs::path target(path);
    // As many links as the kernel follows.
    for (int links = 0; links < 40; ++links) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(target, error))) return target.string();
        const fs::path next = fs::read_symlink(target, error);
        if (error) break;
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    throw EngineError(path + ": too many levels of symbolic links");
}

std::mutex& soundFileOpenLock() {
    static std::mutex lock;
    return lock;
}

// --- input ---

SoundFileReader::SoundFileReader(const std::string& path) : filePath(path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status))
        throw FileNotFound(path + (error && error != std::errc::no_such_file_or_directory
                                       ? ": " + error.message()
                                       : std::string(": no such file")));
    if (fs::is_directory(status)) throw EngineError(path + " is a folder, not a sound file");

    // Opened once by hand so that a permission problem is told as one,
    // rather than as a file libsndfile cannot decode.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) throw EngineError(path + ": cannot read it (" + systemError() + ")");
    struct stat fileStatus {};
    const bool empty = ::fstat(descriptor, &fileStatus) == 0 && S_ISREG(fileStatus.st_mode) &&
                       fileStatus.st_size == 0;
    ::close(descriptor);
    if (empty) throw EngineError(path + " is empty");

    std::string openError;
    {
        const std::lock_guard lock(soundFileOpenLock());
        file = sf_open(path.c_str(), SFM_READ, &fileInfo);
        if (file == nullptr) openError = lastOpenError();
    }
    if (file == nullptr)
        throw EngineError(path + ": not a sound file libsndfile can decode (" + openError + ")");
    // The destructor does not run for a constructor that throws.
    const char* problem = fileInfo.frames <= 0 ? " holds no audio frames"
                          : fileInfo.channels < 1 || fileInfo.samplerate < 1
                              ? " declares no channels or no sample rate"
                              : nullptr;
    if (problem != nullptr) {
        sf_close(file);
        file = nullptr;
        throw EngineError(path + problem);
    }
}

SoundFileReader::~SoundFileReader() {
    if (file != nullptr) sf_close(file);
}

sf_count_t SoundFileReader::read(float* frames, sf_count_t count) {
    const sf_count_t got = sf_readf_float(file, frames, count);
    readFrames += std::max<sf_count_t>(got, 0);
    return got;
}

sf_count_t SoundFileReader::read(double* frames, sf_count_t count) {
    const sf_count_t got = sf_readf_double(file, frames, count);
    readFrames += std::max<sf_count_t>(got, 0);
    return got;
}

void SoundFileReader::seek(std::int64_t frame) {
    if (frame < 0 || frame > fileInfo.frames)
        throw UsageError(filePath + ": frame " + std::to_string(frame) + " is outside its " +
                         std::to_string(fileInfo.frames) + " frames");
    if (sf_seek(file, frame, SEEK_SET) != frame)
        throw EngineError(filePath + ": cannot seek to frame " + std::to_string(frame) + " (" +
                          sf_strerror(file) + ")");
    readFrames = frame;
}

void SoundFileReader::checkReadError() const {
    if (sf_error(file) != SF_ERR_NO_ERROR)
        throw EngineError(filePath + ": reading failed (" + sf_strerror(file) + ")");
}

// --- output ---

SoundFileWriter::SoundFileWriter(const std::string& destination, int format, int channels,
                                 int sampleRate, bool downgradeToWav)
    : destinationPath(destination), targetPath(outputTarget(destination)) {
    // Hidden and unique, in the folder of the file the name leads to, so
    // that the final rename stays on one file system, is atomic, and leaves
    // a symbolic link pointing where it did.
    const std::string pattern = temporaryPattern(folderOf(targetPath));
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    const int descriptor = ::mkostemp(name.data(), O_CLOEXEC);
    if (descriptor < 0)
        throw EngineError(destination + ": cannot create a file in " + folderOf(targetPath) + " (" +
                        systemError() + ")");
    temporaryPath = name.data();
    // mkstemp makes the file private; the result gets the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(descriptor, 0666 & ~mask);
    stream = std::make_unique<BufferedOutputFile>(descriptor);

    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = sampleRate;
    std::string openError;
    {
        const std::lock_guard lock(soundFileOpenLock());
        file = sf_open_virtual(&BufferedOutputFile::callbacks(), SFM_WRITE, &info, stream.get());
        if (file == nullptr) openError = lastOpenError();
    }
    if (file == nullptr) {
        ::unlink(temporaryPath.c_str());
        throw EngineError(destination + ": libsndfile cannot write it (" + openError + ")");
    }
    if (isIntegerFormat(format)) sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    if (downgradeToWav) sf_command(file, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    // The peak chunk carries the time of writing, which would make two
    // renders of the same input differ.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
}

SoundFileWriter::~SoundFileWriter() {
    closeFile();
    if (!committed && !temporaryPath.empty()) ::unlink(temporaryPath.c_str());
}

std::string SoundFileWriter::failureText(const char* fromLibrary) const {
    return stream->failure() != 0 ? std::strerror(stream->failure()) : fromLibrary;
}

void SoundFileWriter::checkWritten(sf_count_t written, sf_count_t count) {
    if (written != count)
        throw EngineError(destinationPath + ": writing failed (" + failureText(sf_strerror(file)) + ")");
}

void SoundFileWriter::write(const float* frames, sf_count_t count) {
    checkWritten(sf_writef_float(file, frames, count), count);
}

void SoundFileWriter::write(const double* frames, sf_count_t count) {
    checkWritten(sf_writef_double(file, frames, count), count);
}

void SoundFileWriter::write(const std::int16_t* frames, sf_count_t count) {
    checkWritten(sf_writef_short(file, frames, count), count);
}

void SoundFileWriter::write(const std::int32_t* frames, sf_count_t count) {
    checkWritten(sf_writef_int(file, frames, count), count);
}

void SoundFileWriter::closeFile() {
    if (file == nullptr) return;
    sf_close(file);
    file = nullptr;
}

void SoundFileWriter::finishFile() {
    // Closing writes the header.
    const int closeError = sf_close(file);
    file = nullptr;
    if (closeError != 0 || !stream->sync())
        throw EngineError(destinationPath + ": writing failed (" +
                          failureText(sf_error_number(closeError)) + ")");
}

std::string SoundFileWriter::closeAside() {
    finishFile();
    committed = true;
    return temporaryPath;
}

void SoundFileWriter::commit(bool replace) {
    // The file is on the disk before it takes the destination's name.
    finishFile();
    if (!replace) {
        if (!renameWithoutReplacing(temporaryPath, targetPath)) {
            if (errno == EEXIST)
                throw OutputExists(destinationPath + " already exists (" +
                                   mention(RequestField::Overwrite) + " replaces it)");
            throw EngineError(destinationPath + ": cannot put the finished file in place (" +
                              systemError() + ")");
        }
    } else if (std::rename(temporaryPath.c_str(), targetPath.c_str()) != 0) {
        throw EngineError(destinationPath + ": cannot put the finished file in place (" +
                        systemError() + ")");
    }
    committed = true;
    syncFolder(folderOf(targetPath), destinationPath);
}

// --- formats and paths ---

void checkOutputPath(const std::string& input, const std::string& output) {
    std::error_code error;
    const std::string target = outputTarget(output);
    const std::string folder = folderOf(target);
    if (!fs::exists(folder, error)) throw EngineError("output folder " + folder + " does not exist");
    if (!fs::is_directory(folder, error)) throw EngineError(folder + " is not a folder");
    const fs::file_status status = fs::status(target, error);
    if (fs::is_directory(status)) throw EngineError(output + " is a folder; OUT must be a file");
    // Found now rather than at the rename after a whole render.
    const long longest = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    const std::string name = fs::path(target).filename().string();
    if (longest > 0 && name.size() > static_cast<std::size_t>(longest))
        throw EngineError(output + ": the name is " + std::to_string(name.size()) +
                          " bytes long; the folder takes names of at most " +
                          std::to_string(longest));
    // Replacing a device or a FIFO would take it away from everyone else
    // (as root, /dev/null itself), and a sound file's header needs seeking.
    if (fs::exists(status) && !fs::is_regular_file(status))
        throw EngineError(output + (target != output ? " leads to " + target : std::string()) +
                          ", which is not a regular file (a device, FIFO or socket); OUT must be "
                          "a regular file or a new name");
    if (fs::exists(output, error) && fs::equivalent(input, output, error))
        throw EngineError(output + " is the input file; choose another OUT");
}

}  // namespace varkel::engine
