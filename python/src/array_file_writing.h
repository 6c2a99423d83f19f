// Arrays into sound files as write() puts them, shared by the whole-array
// write and the streamed output so that both give the same bytes.
#pragma once

#include <optional>
#include <string>

#include "engine/sound/output_conditioning.h"
#include "engine/sound/sound_file.h"
#include "python/src/audio_array.h"

namespace varkel::python {

// The file format for path: format "float", "pcm24" or "pcm16" as a render's
// --format asks for it; a file's other formats (read's names) as a render
// from such a file chooses; none: the array's own float (wide: double).
// Checks the rate and the output path; UsageError for a bad name.
int chooseArrayFileFormat(const std::string& path, const std::optional<std::string>& format,
                          bool wide, int channels, int rate);

// How samples are conditioned on their way into a file of format.
engine::OutputConditioning arrayConditioning(int format);

// Writes all of audio, conditioned. Call without the interpreter lock.
void writeArray(engine::SoundFileWriter& writer, const AudioArray& audio,
                const engine::OutputConditioning& condition);

}  // namespace varkel::python
