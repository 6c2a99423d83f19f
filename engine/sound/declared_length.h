// The length a sound file's header declares. libsndfile trims a WAV's or an
// AIFF's length to the bytes present, so a cut-off file would otherwise
// look whole; this reads the data chunk's own size.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>

namespace varkel::engine {

// The frames path's header declares; info (as libsndfile opened path) gives
// them where the container's data chunk cannot tell more.
std::int64_t declaredFrames(const std::string& path, const SF_INFO& info);

}  // namespace varkel::engine
