// Sound files for Python: read into (channels, frames) arrays and written
// through the engine's output formats and atomic writer.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine_error.h"
#include "engine/sound/output_format.h"
#include "engine/sound/sound_file.h"
#include "python/src/array_file_writing.h"
#include "python/src/audio_array.h"
#include "python/src/bindings.h"
#include "python/src/sample_format_name.h"

namespace varkel::python {

namespace py = pybind11;

namespace {

constexpr sf_count_t kChunkFrames = 65536;

template <typename Sample>
py::tuple readAs(const std::string& path) {
    std::vector<Sample> interleaved;
    int channels = 0;
    int rate = 0;
    std::size_t frames = 0;
    {
        const py::gil_scoped_release unlocked;
        engine::SoundFileReader reader(path);
        channels = reader.channels();
        rate = reader.sampleRate();
        if (reader.info().frames > 0 && reader.info().frames < SF_COUNT_MAX)
            interleaved.reserve(static_cast<std::size_t>(reader.info().frames * channels));
        for (;;) {
            interleaved.resize((frames + kChunkFrames) * static_cast<std::size_t>(channels));
            const sf_count_t got =
                reader.read(interleaved.data() + frames * static_cast<std::size_t>(channels),
                            kChunkFrames);
            if (got <= 0) break;
            frames += static_cast<std::size_t>(got);
        }
        reader.checkReadError();
    }
    py::array_t<Sample> audio({static_cast<py::ssize_t>(channels), static_cast<py::ssize_t>(frames)});
    Sample* planar = audio.mutable_data();
    {
        const py::gil_scoped_release unlocked;
        const auto n = static_cast<std::size_t>(channels);
        for (std::size_t c = 0; c < n; ++c)
            for (std::size_t f = 0; f < frames; ++f) planar[c * frames + f] = interleaved[f * n + c];
    }
    return py::make_tuple(audio, rate);
}

py::tuple read(const std::string& path, bool wide) {
    return wide ? readAs<double>(path) : readAs<float>(path);
}

// The file's rate and sample format, from its header.
std::pair<int, std::optional<std::string>> soundFileFormat(const std::string& path) {
    const py::gil_scoped_release unlocked;
    const engine::SoundFileReader file(path);
    return {file.sampleRate(), fileSampleFormatName(file.info().format)};
}

void write(const std::string& path, const py::handle& object, int rate,
           const std::optional<std::string>& format) {
    const AudioArray audio = AudioArray::from(object);
    const py::gil_scoped_release unlocked;
    const int chosen = chooseArrayFileFormat(path, format, audio.wide, audio.channels, rate);
    audio.checkFinite();
    const int container = engine::withRoomForLength(
        chosen, static_cast<std::int64_t>(audio.frames), audio.channels);
    engine::SoundFileWriter writer(path, container, audio.channels, rate, container != chosen);
    writeArray(writer, audio, arrayConditioning(container));
    writer.commit();
}

}  // namespace

void bindSoundFiles(py::module_& module) {
    module.def("read", &read, py::arg("path"), py::arg("wide"));
    module.def("sound_file_format", &soundFileFormat, py::arg("path"));
    module.def("write", &write, py::arg("path"), py::arg("audio"), py::arg("sample_rate"),
               py::arg("format"));
    module.def("writable_extensions", &engine::writableExtensions);
}

}  // namespace varkel::python
