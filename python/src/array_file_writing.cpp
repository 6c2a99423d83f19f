#include "python/src/array_file_writing.h"

#include <algorithm>
#include <vector>

#include "engine/engine_error.h"
#include "engine/render/render_request.h"
#include "engine/sound/output_format.h"
#include "python/src/sample_format_name.h"

namespace varkel::python {

namespace {

constexpr std::size_t kWrittenStretch = 65536;

// Rounded to the output's grid as a render's output is, so that libsndfile,
// which truncates, converts each sample exactly.
template <typename Sample>
void writeFrames(engine::SoundFileWriter& writer, const AudioArray& audio,
                 const engine::OutputConditioning& condition) {
    const auto* base = static_cast<const Sample*>(audio.data);
    const auto channels = static_cast<std::size_t>(audio.channels);
    std::vector<Sample> chunk(std::min(kWrittenStretch, audio.frames) * channels);
    for (std::size_t first = 0; first < audio.frames; first += kWrittenStretch) {
        const std::size_t n = std::min<std::size_t>(kWrittenStretch, audio.frames - first);
        for (std::size_t f = 0; f < n; ++f)
            for (std::size_t c = 0; c < channels; ++c)
                chunk[f * channels + c] = base[(first + f) * audio.layout.frameStride +
                                               c * audio.layout.channelStride];
        if (condition.changesSamples()) condition.apply(chunk.data(), n * channels);
        writer.write(chunk.data(), static_cast<sf_count_t>(n));
    }
}

}  // namespace

int chooseArrayFileFormat(const std::string& path, const std::optional<std::string>& format,
                          bool wide, int channels, int rate) {
    if (rate < 1) throw engine::UsageError("sample_rate " + std::to_string(rate) + ": must be positive");
    int own = SF_FORMAT_WAV | (wide ? SF_FORMAT_DOUBLE : SF_FORMAT_FLOAT);
    engine::SampleFormat requested = engine::SampleFormat::SameAsInput;
    if (format) {
        own = SF_FORMAT_WAV | fileSampleFormatNamed(*format);
        const auto& renderable = engine::sampleFormatNames();
        if (std::find(renderable.begin(), renderable.end(), *format) != renderable.end())
            requested = engine::sampleFormatNamed(*format);
    }
    engine::checkOutputPath("", path);
    return engine::chooseOutputFormat(path, own, requested, channels, rate);
}

engine::OutputConditioning arrayConditioning(int format) {
    return {engine::isIntegerFormat(format), engine::integerStep(format), nullptr};
}

void writeArray(engine::SoundFileWriter& writer, const AudioArray& audio,
                const engine::OutputConditioning& condition) {
    if (audio.wide)
        writeFrames<double>(writer, audio, condition);
    else
        writeFrames<float>(writer, audio, condition);
}

}  // namespace varkel::python
