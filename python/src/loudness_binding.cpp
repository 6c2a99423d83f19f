// Loudness of an array as the render measures an output's: integrated
// loudness, loudness range and true peak.
#include <vector>

#include "engine/engine_error.h"
#include "engine/sound/loudness_meter.h"
#include "python/src/audio_array.h"
#include "python/src/bindings.h"
#include "python/src/render_arguments.h"

namespace varkel::python {

namespace py = pybind11;

namespace {

constexpr std::size_t kMeasuredFrames = 65536;

template <typename Sample>
void measure(const AudioArray& audio, engine::LoudnessMeter& meter) {
    const auto* base = static_cast<const Sample*>(audio.data);
    const auto channels = static_cast<std::size_t>(audio.channels);
    std::vector<Sample> chunk(kMeasuredFrames * channels);
    for (std::size_t first = 0; first < audio.frames; first += kMeasuredFrames) {
        const std::size_t n = std::min(kMeasuredFrames, audio.frames - first);
        for (std::size_t f = 0; f < n; ++f)
            for (std::size_t c = 0; c < channels; ++c)
                chunk[f * channels + c] =
                    base[(first + f) * audio.layout.frameStride + c * audio.layout.channelStride];
        meter.add(chunk.data(), n);
    }
}

py::dict loudness(const py::handle& object, int rate) {
    const AudioArray audio = AudioArray::from(object);
    if (rate < 1)
        throw engine::UsageError("rate " + std::to_string(rate) + ": must be positive");
    engine::Loudness result;
    {
        const py::gil_scoped_release unlocked;
        audio.checkFinite();
        engine::LoudnessMeter meter(audio.channels, rate, true);
        if (audio.wide)
            measure<double>(audio, meter);
        else
            measure<float>(audio, meter);
        result = meter.result();
    }
    return loudnessDict(result);
}

}  // namespace

void bindLoudness(py::module_& module) {
    module.def("loudness", &loudness, py::arg("audio"), py::arg("rate"));
}

}  // namespace varkel::python
