#include "python/src/audio_array.h"

#include <bit>
#include <cstdint>
#include <string>

#include "engine/engine_error.h"

namespace varkel::python {

namespace py = pybind11;

namespace {

std::string describe(const py::handle& object) {
    if (!py::isinstance<py::array>(object))
        return "a " + std::string(py::str(py::type::handle_of(object).attr("__name__")));
    const auto array = py::reinterpret_borrow<py::array>(object);
    return "an array of " + std::string(py::str(array.dtype())) + " with shape " +
           std::string(py::str(py::tuple(object.attr("shape"))));
}

// Whether any of a run of samples is NaN or infinite, from their bits: an
// all-ones exponent. An integer test vectorises where a floating-point one may
// not, and an AVX2 build of it is chosen where the processor has it, so that
// the check costs little beside the processing.
template <typename Sample, typename Bits>
[[gnu::always_inline]] inline bool anyNonFinite(const Sample* samples, std::size_t count,
                                                Bits exponent) {
    Bits bad = 0;
    for (std::size_t i = 0; i < count; ++i)
        bad |= static_cast<Bits>((std::bit_cast<Bits>(samples[i]) & exponent) == exponent);
    return bad != 0;
}

[[gnu::target_clones("avx2", "default")]] bool anyNonFinite(const float* samples,
                                                            std::size_t count) {
    return anyNonFinite(samples, count, std::uint32_t{0x7F800000});
}

[[gnu::target_clones("avx2", "default")]] bool anyNonFinite(const double* samples,
                                                            std::size_t count) {
    return anyNonFinite(samples, count, std::uint64_t{0x7FF0000000000000});
}

// The frame of a channel's first NaN or infinite sample, or -1.
template <typename Sample, typename Bits>
std::ptrdiff_t firstNonFinite(const Sample* samples, std::size_t count, std::size_t stride,
                              Bits exponent) {
    const auto bad = [&](std::size_t i) {
        return (std::bit_cast<Bits>(samples[i * stride]) & exponent) == exponent;
    };
    if (stride == 1) {
        if (!anyNonFinite(samples, count)) return -1;
    } else {
        bool any = false;
        for (std::size_t i = 0; i < count; ++i) any |= bad(i);
        if (!any) return -1;
    }
    for (std::size_t i = 0;; ++i)
        if (bad(i)) return static_cast<std::ptrdiff_t>(i);
}

template <typename Sample, typename Bits>
void checkChannels(const AudioArray& audio, Bits exponent, const char* what) {
    const auto* base = static_cast<const Sample*>(audio.data);
    for (int c = 0; c < audio.channels; ++c) {
        const std::ptrdiff_t at =
            firstNonFinite(base + static_cast<std::size_t>(c) * audio.layout.channelStride,
                           audio.frames, audio.layout.frameStride, exponent);
        if (at >= 0)
            throw engine::UsageError(std::string(what) + " holds NaN or infinite samples (first at channel " +
                                     std::to_string(c) + ", frame " + std::to_string(at) + ")");
    }
}

}  // namespace

AudioArray AudioArray::from(const py::handle& object, const char* what) {
    const std::string name = what;
    const bool single = py::array_t<float>::check_(object);
    const bool wide = py::array_t<double>::check_(object);
    if (!single && !wide)
        throw engine::UsageError(name + " must be a numpy array of float32 or float64 samples "
                                 "with shape (channels, frames); got " + describe(object));
    AudioArray audio;
    audio.array = py::reinterpret_borrow<py::array>(object);
    audio.wide = wide;
    if (audio.array.ndim() != 2)
        throw engine::UsageError(name + " must have shape (channels, frames); got " +
                                 describe(object) + " (one channel is audio[None, :])");
    const auto channels = audio.array.shape(0);
    if (channels < 1 || channels > kMaxChannels)
        throw engine::UsageError(name + " must have shape (channels, frames) with 1 to " +
                                 std::to_string(kMaxChannels) + " channels; got " +
                                 describe(object) +
                                 (channels > kMaxChannels ? " (frames first? pass audio.T)" : ""));
    const auto item = audio.array.itemsize();
    // The stride of a dimension of one is never used, and numpy leaves it arbitrary.
    const auto strideOf = [&](py::ssize_t dimension) {
        return audio.array.shape(dimension) == 1 ? 0 : audio.array.strides(dimension);
    };
    const auto channelStride = strideOf(0);
    const auto frameStride = strideOf(1);
    const bool inPlace = channelStride >= 0 && frameStride >= 0 && channelStride % item == 0 &&
                         frameStride % item == 0;
    if (!inPlace)
        audio.array = wide ? py::array(py::array_t<double, py::array::c_style>::ensure(object))
                           : py::array(py::array_t<float, py::array::c_style>::ensure(object));
    audio.channels = static_cast<int>(channels);
    audio.frames = static_cast<std::size_t>(audio.array.shape(1));
    audio.layout = {static_cast<std::size_t>(strideOf(1) / item),
                    static_cast<std::size_t>(strideOf(0) / item)};
    audio.data = audio.array.data();
    return audio;
}

void AudioArray::checkFinite(const char* what) const {
    if (wide)
        checkChannels<double>(*this, std::uint64_t{0x7FF0000000000000}, what);
    else
        checkChannels<float>(*this, std::uint32_t{0x7F800000}, what);
}

}  // namespace varkel::python
