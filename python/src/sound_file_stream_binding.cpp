// Sound files a stretch at a time: a reader of (channels, frames) float32
// chunks that seeks, the same resampled on the way through libsoxr, and an
// output written in chunks to the same bytes as one write() of the whole.
// Each releases the interpreter lock around its file's I/O, and so takes
// one thread at a time.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine/engine_error.h"
#include "engine/sound/output_format.h"
#include "engine/sound/resampled_source.h"
#include "engine/sound/sound_file.h"
#include "python/src/array_file_writing.h"
#include "python/src/audio_array.h"
#include "python/src/bindings.h"
#include "python/src/exclusive_use.h"
#include "python/src/sample_format_name.h"

namespace varkel::python {

namespace py = pybind11;

namespace {

constexpr std::int64_t kReadStretch = 65536;

// Up to count frames (all that are left for count < 0) as (channels, frames).
py::array_t<float> readFrames(engine::FrameSource& source, std::int64_t count) {
    const auto channels = static_cast<std::size_t>(source.channels());
    std::vector<float> interleaved;
    std::size_t frames = 0;
    {
        const py::gil_scoped_release unlocked;
        while (count < 0 || static_cast<std::int64_t>(frames) < count) {
            const std::int64_t asked =
                count < 0 ? kReadStretch
                          : std::min(kReadStretch, count - static_cast<std::int64_t>(frames));
            interleaved.resize((frames + static_cast<std::size_t>(asked)) * channels);
            const sf_count_t got = source.read(interleaved.data() + frames * channels, asked);
            frames += static_cast<std::size_t>(std::max<sf_count_t>(got, 0));
            if (got < asked) break;
        }
        source.checkReadError();
    }
    py::array_t<float> audio({static_cast<py::ssize_t>(channels), static_cast<py::ssize_t>(frames)});
    float* planar = audio.mutable_data();
    const py::gil_scoped_release unlocked;
    for (std::size_t c = 0; c < channels; ++c)
        for (std::size_t f = 0; f < frames; ++f) planar[c * frames + f] = interleaved[f * channels + c];
    return audio;
}

[[noreturn]] void refuseClosed(const std::string& path) {
    throw engine::EngineError(path + ": the file is closed");
}

class InputStream {
public:
    explicit InputStream(const std::string& path) {
        const py::gil_scoped_release unlocked;
        file = std::make_unique<engine::SoundFileReader>(path);
        filePath = path;
    }

    py::array_t<float> read(std::int64_t count) {
        const ExclusiveUse::Claim claim(use);
        return readFrames(open(), count);
    }
    void seek(std::int64_t frame) {
        const ExclusiveUse::Claim claim(use);
        const py::gil_scoped_release unlocked;
        open().seek(frame);
    }
    std::int64_t tell() { return open().framesRead(); }
    std::int64_t frames() { return open().info().frames; }
    int sampleRate() { return open().sampleRate(); }
    int channels() { return open().channels(); }
    std::optional<std::string> format() { return fileSampleFormatName(open().info().format); }
    void close() {
        const ExclusiveUse::Claim claim(use);
        file.reset();
    }

private:
    engine::SoundFileReader& open() {
        if (!file) refuseClosed(filePath);
        return *file;
    }

    std::string filePath;
    std::unique_ptr<engine::SoundFileReader> file;
    ExclusiveUse use;
};

// A file of its own, so that the reader it came from keeps its place.
class ResampledStream {
public:
    ResampledStream(const std::string& path, int rate) : filePath(path), toRate(rate) {
        if (rate < 1)
            throw engine::UsageError("sample_rate " + std::to_string(rate) + ": must be positive");
        const py::gil_scoped_release unlocked;
        restart();
    }

    py::array_t<float> read(std::int64_t count) {
        const ExclusiveUse::Claim claim(use);
        check();
        py::array_t<float> audio = readFrames(*resampled, count);
        position += audio.shape(1);
        return audio;
    }
    // The resampler has no way back: from the start, reading up to frame,
    // so that what follows has the bits a read straight through gives.
    void seek(std::int64_t frame) {
        const ExclusiveUse::Claim claim(use);
        check();
        if (frame < 0 || frame > frames())
            throw engine::UsageError(filePath + ": frame " + std::to_string(frame) +
                                     " is outside its " + std::to_string(frames()) +
                                     " resampled frames");
        const py::gil_scoped_release unlocked;
        if (frame < position) restart();
        std::vector<float> skipped(static_cast<std::size_t>(kReadStretch) *
                                   static_cast<std::size_t>(file->channels()));
        while (position < frame) {
            const sf_count_t got =
                resampled->read(skipped.data(), std::min(kReadStretch, frame - position));
            if (got <= 0) break;
            position += got;
        }
        resampled->checkReadError();
    }
    std::int64_t tell() {
        check();
        return position;
    }
    std::int64_t frames() {
        check();
        return engine::ResampledSource::framesFor(file->info().frames, file->sampleRate(), toRate);
    }
    int sampleRate() const { return toRate; }
    int channels() {
        check();
        return file->channels();
    }
    std::optional<std::string> format() {
        check();
        return fileSampleFormatName(file->info().format);
    }
    void close() {
        const ExclusiveUse::Claim claim(use);
        resampled.reset();
        file.reset();
    }

private:
    void check() const {
        if (!file) refuseClosed(filePath);
    }
    void restart() {
        resampled.reset();
        file = std::make_unique<engine::SoundFileReader>(filePath);
        resampled = std::make_unique<engine::ResampledSource>(*file, file->sampleRate(), toRate,
                                                              false);
        position = 0;
    }

    std::string filePath;
    int toRate;
    std::unique_ptr<engine::SoundFileReader> file;
    std::unique_ptr<engine::ResampledSource> resampled;
    std::int64_t position = 0;
    ExclusiveUse use;
};

// Removes a file when it goes out of scope.
struct RemovedAtExit {
    std::string path;
    ~RemovedAtExit() { ::unlink(path.c_str()); }
};

// Written to a temporary beside the destination, renamed onto it by close()
// and removed by discard() or when dropped unclosed. The container is the
// one write() chooses for the length written: a WAV that outgrows its
// length fields starts again as RF64 from what it holds.
class OutputStream {
public:
    OutputStream(const std::string& path, int rate, int channels,
                 const std::optional<std::string>& format)
        : filePath(path), fileChannels(channels), rate(rate) {
        if (channels < 1 || channels > kMaxChannels)
            throw engine::UsageError("channels " + std::to_string(channels) + ": must be 1 to " +
                                     std::to_string(kMaxChannels));
        const py::gil_scoped_release unlocked;
        chosen = chooseArrayFileFormat(path, format, false, channels, rate);
        container = engine::withRoomForLength(chosen, 0, channels);
        file = std::make_unique<engine::SoundFileWriter>(path, container, channels, rate);
    }

    void write(const py::handle& object) {
        const ExclusiveUse::Claim claim(use);
        check();
        const AudioArray audio = AudioArray::from(object);
        if (audio.channels != fileChannels)
            throw engine::UsageError("audio has " + std::to_string(audio.channels) +
                                     " channels; the file was opened for " +
                                     std::to_string(fileChannels));
        const py::gil_scoped_release unlocked;
        audio.checkFinite();
        const auto total = written + static_cast<std::int64_t>(audio.frames);
        if (engine::withRoomForLength(chosen, total, fileChannels) != container) grow(total);
        writeArray(*file, audio, arrayConditioning(container));
        written = total;
    }
    void close() {
        const ExclusiveUse::Claim claim(use);
        if (!file) return;
        const py::gil_scoped_release unlocked;
        // Dropped whether or not the rename succeeds: nothing is left behind.
        const std::unique_ptr<engine::SoundFileWriter> finishing = std::move(file);
        finishing->commit();
    }
    void discard() {
        const ExclusiveUse::Claim claim(use);
        const py::gil_scoped_release unlocked;
        file.reset();
    }
    std::int64_t frames() const { return written; }
    std::optional<std::string> format() const { return fileSampleFormatName(chosen); }
    bool closed() const { return !file; }

private:
    void check() const {
        if (!file) refuseClosed(filePath);
    }
    // Starts again in the container for total frames, copying what was
    // written: on its grid already, so the conditioning leaves it as it is.
    void grow(std::int64_t total) {
        const RemovedAtExit part{file->closeAside()};
        file.reset();
        container = engine::withRoomForLength(chosen, total, fileChannels);
        file = std::make_unique<engine::SoundFileWriter>(filePath, container, fileChannels, rate,
                                                         container != chosen);
        engine::SoundFileReader earlier(part.path);
        const engine::OutputConditioning condition = arrayConditioning(container);
        std::vector<double> stretch(static_cast<std::size_t>(kReadStretch * fileChannels));
        for (;;) {
            const sf_count_t got = earlier.read(stretch.data(), kReadStretch);
            if (got <= 0) break;
            condition.apply(stretch.data(), static_cast<std::size_t>(got * fileChannels));
            file->write(stretch.data(), got);
        }
        earlier.checkReadError();
    }

    std::string filePath;
    int fileChannels;
    int rate;
    int chosen = 0;
    int container = 0;
    std::int64_t written = 0;
    std::unique_ptr<engine::SoundFileWriter> file;
    ExclusiveUse use;
};

template <typename Stream>
void bindReading(py::class_<Stream>& stream) {
    stream.def("read", &Stream::read, py::arg("frames"))
        .def("seek", &Stream::seek, py::arg("frame"))
        .def("tell", &Stream::tell)
        .def("frames", &Stream::frames)
        .def("sample_rate", &Stream::sampleRate)
        .def("channels", &Stream::channels)
        .def("format", &Stream::format)
        .def("close", &Stream::close);
}

}  // namespace

void bindSoundFileStreams(py::module_& module) {
    py::class_<InputStream> input(module, "InputStream");
    input.def(py::init<const std::string&>(), py::arg("path"));
    bindReading(input);
    py::class_<ResampledStream> resampled(module, "ResampledStream");
    resampled.def(py::init<const std::string&, int>(), py::arg("path"), py::arg("sample_rate"));
    bindReading(resampled);
    py::class_<OutputStream>(module, "OutputStream")
        .def(py::init<const std::string&, int, int, const std::optional<std::string>&>(),
             py::arg("path"), py::arg("sample_rate"), py::arg("channels"), py::arg("format"))
        .def("write", &OutputStream::write, py::arg("audio"))
        .def("close", &OutputStream::close)
        .def("discard", &OutputStream::discard)
        .def("frames", &OutputStream::frames)
        .def("format", &OutputStream::format)
        .def("closed", &OutputStream::closed);
}

}  // namespace varkel::python
