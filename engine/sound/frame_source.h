// Where a render's frames come from: a sound file, or a file resampled on
// the way.
#pragma once

#include <sndfile.h>

namespace varkel::engine {

class FrameSource {
public:
    virtual ~FrameSource() = default;
    virtual int channels() const = 0;
    // Interleaved frames; returns how many were read, 0 at the end.
    virtual sf_count_t read(float* frames, sf_count_t count) = 0;
    virtual sf_count_t read(double* frames, sf_count_t count) = 0;
    // Throws when reading stopped on an error rather than at the end.
    virtual void checkReadError() const = 0;
};

}  // namespace varkel::engine
