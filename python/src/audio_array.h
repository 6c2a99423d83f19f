// A numpy array as audio the engine reads: shape (channels, frames), float32
// or float64 in native byte order. Arrays whose strides are whole samples are
// read where they are (a C-contiguous array, or the transpose of an
// interleaved one); others are copied once.
#pragma once

#include <pybind11/numpy.h>

#include <cstddef>

#include "engine/render/block_driver.h"

namespace varkel::python {

// More channels than this is taken for an array of (frames, channels).
inline constexpr int kMaxChannels = 64;

struct AudioArray {
    pybind11::array array;  // the caller's, or a copy
    const void* data = nullptr;
    engine::SampleLayout layout;
    int channels = 0;
    std::size_t frames = 0;
    bool wide = false;  // float64

    // Throws UsageError naming `what` for anything but such an array.
    static AudioArray from(const pybind11::handle& object, const char* what = "audio");

    // Throws UsageError at the first NaN or infinite sample. Call without
    // the interpreter lock: it reads every sample.
    void checkFinite(const char* what = "audio") const;
};

}  // namespace varkel::python
