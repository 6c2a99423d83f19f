// The file's own sample formats by name, that read() tells and write() takes
// back (a render's output formats are the engine's, render_request.h).
#pragma once

#include <sndfile.h>

#include <array>
#include <optional>
#include <string>
#include <utility>

#include "engine/engine_error.h"
#include "engine/sound/output_format.h"

namespace varkel::python {

// libsndfile's sample formats by the names read() gives them.
inline constexpr std::array<std::pair<const char*, int>, 12> kFileSampleFormats{{
    {"float", SF_FORMAT_FLOAT},
    {"double", SF_FORMAT_DOUBLE},
    {"pcm8", SF_FORMAT_PCM_S8},
    {"pcmu8", SF_FORMAT_PCM_U8},
    {"pcm16", SF_FORMAT_PCM_16},
    {"pcm24", SF_FORMAT_PCM_24},
    {"pcm32", SF_FORMAT_PCM_32},
    {"ulaw", SF_FORMAT_ULAW},
    {"alaw", SF_FORMAT_ALAW},
    {"vorbis", SF_FORMAT_VORBIS},
    {"opus", SF_FORMAT_OPUS},
    {"mp3", SF_FORMAT_MPEG_LAYER_III},
}};

// The name of a file's sample format, or none for one not named above.
inline std::optional<std::string> fileSampleFormatName(int format) {
    for (const auto& [name, subtype] : kFileSampleFormats)
        if ((format & SF_FORMAT_SUBMASK) == subtype) return name;
    return std::nullopt;
}

// The libsndfile sample format a name gives, for a file written as a render
// from a file of that format is; UsageError for a name not above.
inline int fileSampleFormatNamed(const std::string& name) {
    std::string names;
    for (const auto& [known, subtype] : kFileSampleFormats) {
        if (name == known) return subtype;
        names += std::string(names.empty() ? "" : ", ") + known;
    }
    throw engine::UsageError("format " + name + ": must be one of " + names + ", or None");
}

}  // namespace varkel::python
