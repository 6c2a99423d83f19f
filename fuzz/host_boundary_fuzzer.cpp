// Drives one Varkel instance through its record with a sequence of host calls
// decoded from the input, the way a careless or hostile host might: any opcode
// from -5 to 100 with any index, value and option; parameter writes of any
// float and reads of any index; process calls in both precisions with up to
// 4096 frames of any samples (65536 an input in all), in place or not;
// sample-rate and block-size changes to absurd values. The instance is closed
// at the end.
//
// Pointers are always valid: every buffer the module may write is surrounded
// by guard bytes checked after each call, text answers must stay within the
// interface's length limits and be terminated, and the record must not change.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

#include <sanitizer/asan_interface.h>

#include "dsp/random_source.h"
#include "abi/aeffect.h"
#include "fuzz/input_reader.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback audioMaster);

namespace {

[[noreturn]] void fail(const char* what, int opcode) {
    std::fprintf(stderr, "host_boundary_fuzzer: %s (opcode %d)\n", what, opcode);
    std::abort();
}

void check(bool condition, const char* what, int opcode = -1000) {
    if (!condition) fail(what, opcode);
}

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Values hosts get wrong most often.
constexpr float kSpecialFloats[] = {
    0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 0.25118864f, 2.0f, 1e-7f, kNaN, -kNaN, kInf, -kInf,
    std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::denorm_min(),
    1e-39f, std::numeric_limits<float>::min(), std::numeric_limits<float>::max(),
    -std::numeric_limits<float>::max(), 1e30f, -1e30f, 1e-30f, 44100.0f, 48000.0f, 96000.0f,
    192000.0f, 8000.0f, 999.0f, 94.0f, 95.0f, 100.0f, 2147483648.0f, 4294967296.0f, -48000.0f,
    0.999f, 1.0000001f, 0.7414f, -0.7414f, 1e6f};
constexpr std::int32_t kSpecialInts[] = {
    0, 1, 2, 3, -1, -2, 4, 8, 9, 24, 25, 64, 1024, 4096, 4097, 65536, 1000, -1000,
    std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::min()};
constexpr VstIntPtr kSpecialWides[] = {
    0, 1, 2, -1, 512, 4096, 65536, std::numeric_limits<std::int32_t>::max(),
    std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int64_t>::min(),
    std::numeric_limits<std::int64_t>::max(), std::int64_t{1} << 32, (std::int64_t{1} << 32) | 1,
    0xFFFFFFFFll, -(std::int64_t{1} << 32)};

constexpr std::size_t kGuard = 64;
constexpr std::size_t kRegion = 4096;  // room for the largest record any opcode carries
constexpr std::uint8_t kGuardByte = 0xCD;
constexpr std::uint8_t kFill = 0xA5;

// Comparison patterns, so the checks run as memcmp rather than as loops the
// fuzzer instruments.
std::uint8_t guardPattern[kGuard];
std::uint8_t fillPattern[kRegion];
const std::uint8_t zeros[kRegion] = {};

class GuardedBuffer {
public:
    std::uint8_t* data() { return bytes + kGuard; }
    // Each byte written once: guard, region, guard.
    void prepare(std::uint8_t fill) {
        std::memset(bytes, kGuardByte, kGuard);
        std::memset(data(), fill, kRegion);
        std::memset(data() + kRegion, kGuardByte, kGuard);
    }
    bool guardsIntact() const {
        return std::memcmp(bytes, guardPattern, kGuard) == 0 &&
               std::memcmp(bytes + kGuard + kRegion, guardPattern, kGuard) == 0;
    }
    // True when no byte of the region from `from` on differs from the fill.
    bool untouchedFrom(std::size_t from, std::uint8_t fill) const {
        const std::uint8_t* pattern = fill == kFill ? fillPattern : zeros;
        return std::memcmp(bytes + kGuard + from, pattern, kRegion - from) == 0;
    }

private:
    alignas(64) std::uint8_t bytes[kGuard + kRegion + kGuard];
};

constexpr int kMaxFrames = 4096;
// Frames processed by one input in all, sixteen of the largest blocks: calls
// beyond it process what is left, down to none. Without a bound, the inputs
// a long run grows take ever more frames each, and the run slows down. This
// many frames still let a filter state decay from full scale into the
// subnormals at up to 192 kHz (some 27,000 frames there).
constexpr int kFramesPerInput = 16 * kMaxFrames;

// One channel's samples, kept for the whole run and sized for the largest
// block: allocating six buffers per call cost more than the call itself.
// All but the block's own samples are poisoned, so AddressSanitizer flags an
// access past either end, or a use after the call, as it would for a buffer
// allocated to the exact size and freed after the call. Only the bytes a
// block opened are poisoned again: the rest never stopped being poisoned.
class ChannelBuffer {
public:
    template <typename Sample>
    Sample* take(int frames) {
        release();
        open = sizeof(Sample) * static_cast<std::size_t>(frames);
        ASAN_UNPOISON_MEMORY_REGION(bytes + kGuard, open);
        return reinterpret_cast<Sample*>(bytes + kGuard);
    }
    // Whole shadow granules, so a block of an odd number of floats leaves
    // no byte of its last one open. No branch here: the fuzzer would count
    // its edges, which say nothing about the module, and favour inputs with
    // more process calls.
    void release() {
        ASAN_POISON_MEMORY_REGION(bytes + kGuard, (open + 7) & ~std::size_t{7});
        open = 0;
    }
    // Once, before the first input: a static buffer starts unpoisoned.
    void poisonAll() {
        ASAN_POISON_MEMORY_REGION(bytes, sizeof bytes);
        open = 0;
    }

private:
    alignas(64) std::uint8_t bytes[kGuard + sizeof(double) * kMaxFrames + kGuard];
    std::size_t open = 0;  // bytes from data on that are unpoisoned
};

// Opcodes that answer with a text, and the buffer size the interface allows
// (characters plus terminator).
std::size_t textLimit(VstInt32 opcode) {
    switch (opcode) {
        case effGetParamLabel:
        case effGetParamDisplay:
        case effGetParamName: return kVstMaxParamStrLen + 1;
        case effGetProgramName:
        case effGetProgramNameIndexed: return kVstMaxProgNameLen + 1;
        case effGetEffectName: return kVstMaxEffectNameLen + 1;
        case effGetVendorString: return kVstMaxVendorStrLen + 1;
        case effGetProductString:
        case effShellGetNextPlugin: return kVstMaxProductStrLen + 1;
        default: return 0;
    }
}

// Opcodes that hand the plug-in a text.
bool takesText(VstInt32 opcode) {
    return opcode == effSetProgramName || opcode == effString2Parameter || opcode == effCanDo;
}

AEffect* currentRecord = nullptr;

VstIntPtr hostCallback(AEffect* effect, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    check(effect == nullptr || effect == currentRecord, "host callback got a foreign record", opcode);
    return opcode == audioMasterVersion ? 2400 : 0;
}

// A NaN with a payload no arithmetic produces: marks output not yet written.
template <typename Sample>
Sample unwrittenMarker() {
    if constexpr (sizeof(Sample) == sizeof(float))
        return std::bit_cast<float>(std::uint32_t{0x7FA5A5A5});
    else
        return std::bit_cast<double>(std::uint64_t{0x7FF4A5A5A5A5A5A5});
}

// The per-sample work of the harness is kept out of the coverage, address
// and undefined-behaviour instrumentation: it says nothing about the module,
// stays within the block it was given, and would dominate the run time (the
// undefined-behaviour checks on every element kept these loops from being
// vectorised).
#define VARKEL_UNTRACED __attribute__((no_sanitize("coverage", "address", "undefined")))

// pattern[(2 * i + ch) % patternLength]. That repeats every patternLength
// samples, so one period is stepped through and the rest copied from it,
// doubling the copied stretch each time.
template <typename Sample>
VARKEL_UNTRACED void fillChannel(Sample* channel, int frames, const Sample* pattern, int patternLength,
                                 int ch) {
    const int period = frames < patternLength ? frames : patternLength;
    int at = ch % patternLength;
    for (int i = 0; i < period; ++i) {
        channel[i] = pattern[at];
        at += 2;
        if (at >= patternLength) at -= patternLength;
        if (at >= patternLength) at -= patternLength;
    }
    for (int done = period; done < frames;) {
        const int count = done < frames - done ? done : frames - done;
        __builtin_memcpy(channel + done, channel, sizeof(Sample) * static_cast<std::size_t>(count));
        done += count;
    }
}

template <typename Sample>
VARKEL_UNTRACED void markUnwritten(Sample* channel, int frames) {
    const Sample marker = unwrittenMarker<Sample>();
    for (int i = 0; i < frames; ++i) channel[i] = marker;
}

// What is wrong with a processed channel, or null: the first fault in sample
// order, one sample's checks in the order written. The builtins here and
// below: the library's functions, instrumented, are not inlined into these
// uninstrumented loops.
template <typename Sample>
VARKEL_UNTRACED const char* findOutputFault(const Sample* channel, int frames, bool separate, bool sane) {
    using Bits = std::conditional_t<sizeof(Sample) == 4, std::uint32_t, std::uint64_t>;
    const Bits marker = __builtin_bit_cast(Bits, unwrittenMarker<Sample>());
    for (int i = 0; i < frames; ++i) {
        const Sample y = channel[i];
        if (separate && __builtin_bit_cast(Bits, y) == marker) return "output sample left unwritten";
        if (sane && !__builtin_isfinite(y)) return "non-finite output with parameters in 0..1";
        if (sizeof(Sample) == sizeof(double) && !__builtin_isnan(y) &&
            static_cast<Sample>(static_cast<float>(y)) != y)
            return "64-bit output not single precision";
    }
    return nullptr;
}

// The same checks without branches, so the loop is vectorised: true when
// some sample fails one. Only then is the channel searched for the first.
template <typename Sample>
VARKEL_UNTRACED bool anyOutputFault(const Sample* channel, int frames, bool separate, bool sane) {
    using Bits = std::conditional_t<sizeof(Sample) == 4, std::uint32_t, std::uint64_t>;
    const Bits marker = __builtin_bit_cast(Bits, unwrittenMarker<Sample>());
    const Bits exponent = __builtin_bit_cast(Bits, std::numeric_limits<Sample>::infinity());
    bool unwritten = false, infinite = false, wide = false;
    for (int i = 0; i < frames; ++i) {
        const Sample y = channel[i];
        const Bits bits = __builtin_bit_cast(Bits, y);
        unwritten |= bits == marker;
        infinite |= (bits & exponent) == exponent;
        // y == y leaves out NaN, which never equals its rounding.
        if constexpr (sizeof(Sample) == sizeof(double))
            wide |= (static_cast<Sample>(static_cast<float>(y)) != y) & (y == y);
    }
    return (separate & unwritten) | (sane & infinite) | wide;
}

template <typename Sample>
VARKEL_UNTRACED const char* checkOutput(const Sample* channel, int frames, bool separate, bool sane) {
    if (!anyOutputFault(channel, frames, separate, sane)) return nullptr;
    return findOutputFault(channel, frames, separate, sane);
}

constexpr float kDefaultParameters[3] = {0.25118864f, 1.0f, 0.25118864f};

class Session {
public:
    explicit Session(AEffect* record) : record(record) {
        std::memcpy(&snapshot, record, sizeof snapshot);
        std::memcpy(parameters, kDefaultParameters, sizeof parameters);
    }

    void dispatch(InputReader& in) {
        VstInt32 opcode = -5 + static_cast<VstInt32>(in.byte() % 106);
        if (opcode == effClose) opcode = effOpen;  // closing only at the end
        const VstInt32 index = in.pick(kSpecialInts);
        VstIntPtr value = in.pick(kSpecialWides);
        const float opt = in.pick(kSpecialFloats);
        const std::uint8_t pointerMode = in.byte();

        const std::size_t limit = textLimit(opcode);
        const bool answers = limit != 0 || opcode == effGetSpeakerArrangement;
        a.prepare(answers ? kFill : 0);
        b.prepare(kFill);
        if (takesText(opcode)) {
            const std::size_t length = in.byte() % 64;
            for (std::size_t i = 0; i < length; ++i) a.data()[i] = in.byte();
        }
        void* ptr = (pointerMode & 7) == 0 ? nullptr : a.data();
        if (opcode == effSetChunk) value = static_cast<VstIntPtr>(static_cast<std::uint64_t>(value) % (kRegion + 1));
        // Two arrangement pointers: value and ptr each address one.
        if (opcode == effSetSpeakerArrangement || opcode == effGetSpeakerArrangement) {
            b.prepare(opcode == effSetSpeakerArrangement ? 0 : kFill);
            value = (pointerMode & 8) != 0 ? 0 : reinterpret_cast<VstIntPtr>(b.data());
        }

        const VstIntPtr result = call(opcode, index, value, ptr, opt);

        check(a.guardsIntact() && b.guardsIntact(), "write outside a host buffer", opcode);
        if (limit != 0) {
            check(a.untouchedFrom(limit, kFill), "text answer longer than the interface allows", opcode);
            if (!a.untouchedFrom(0, kFill))
                check(std::memchr(a.data(), 0, limit) != nullptr, "text answer not terminated", opcode);
        }
        if (opcode == effGetSpeakerArrangement) {
            check(b.untouchedFrom(sizeof(void*), kFill), "arrangement slot overrun", opcode);
            if (ptr != nullptr) check(a.untouchedFrom(sizeof(void*), kFill), "arrangement slot overrun", opcode);
        }
        if (opcode == effGetProgram) check(result == 0, "only program 0 exists", opcode);
        if (opcode == effGetVstVersion) check(result == 2400, "wrong interface version", opcode);
    }

    // Sample rate and block size through every opcode that sets them.
    void retune(InputReader& in) {
        switch (in.byte() % 3) {
            case 0: call(effSetSampleRate, 0, 0, nullptr, in.pick(kSpecialFloats)); break;
            case 1: call(effSetBlockSize, 0, in.pick(kSpecialWides), nullptr, 0.0f); break;
            default: {
                const VstIntPtr blockSize = in.pick(kSpecialWides);
                call(__effSetBlockSizeAndSampleRateDeprecated, 0, blockSize, nullptr, in.pick(kSpecialFloats));
            }
        }
    }

    void setParameter(InputReader& in) {
        const VstInt32 index = in.pick(kSpecialInts);
        const float value = in.pick(kSpecialFloats);
        record->setParameter(record, index, value);
        // Indices outside 0..2 are ignored, and so are non-finite values.
        if (index >= 0 && index < 3 && std::isfinite(value)) parameters[index] = value;
        checkRecord(-1);
    }

    void getParameter(InputReader& in) {
        const VstInt32 index = in.pick(kSpecialInts);
        const float got = record->getParameter(record, index);
        const float expected = index >= 0 && index < 3 ? parameters[index] : 0.0f;
        check(std::memcmp(&got, &expected, sizeof got) == 0, "parameter reads back wrong");
        checkRecord(-1);
    }

    template <typename Sample>
    void process(InputReader& in) {
        const int frames = std::min(in.raw<std::uint16_t>() % (kMaxFrames + 1), framesLeft);
        framesLeft -= frames;
        const std::uint8_t mode = in.byte();
        const bool inPlace = (mode & 1) != 0;
        Sample pattern[32];
        const int patternLength = 1 + in.byte() % 32;
        for (int i = 0; i < patternLength; ++i) {
            pattern[i] = static_cast<Sample>(in.pick(kSpecialFloats));
            // Also samples a float cannot hold, on the 64-bit path.
            if (sizeof(Sample) == sizeof(double) && (mode & 2) != 0 && std::isfinite(pattern[i]))
                pattern[i] = std::nextafter(pattern[i], static_cast<Sample>(kInf));
        }

        Sample* inputs[2];
        Sample* outputs[2];
        Sample* original[2] = {};
        // Outputs below or above the inputs in memory, as the input says:
        // the module compares the addresses to tell how the buffers overlap.
        const int inputAt = (mode & 4) != 0 ? 2 : 0;
        const int outputAt = 2 - inputAt;
        for (int ch = 0; ch < 2; ++ch) {
            inputs[ch] = buffers[inputAt + ch].take<Sample>(frames);
            fillChannel(inputs[ch], frames, pattern, patternLength, ch);
            if (inPlace) {
                outputs[ch] = inputs[ch];
                buffers[outputAt + ch].release();
                buffers[4 + ch].release();
            } else {
                outputs[ch] = buffers[outputAt + ch].take<Sample>(frames);
                markUnwritten(outputs[ch], frames);
                original[ch] = buffers[4 + ch].take<Sample>(frames);
                std::memcpy(original[ch], inputs[ch], sizeof(Sample) * static_cast<std::size_t>(frames));
            }
        }

        if constexpr (sizeof(Sample) == sizeof(float))
            record->processReplacing(record, inputs, outputs, frames);
        else
            record->processDoubleReplacing(record, inputs, outputs, frames);
        checkRecord(-1);

        for (int ch = 0; ch < 2; ++ch) {
            if (!inPlace)
                check(std::memcmp(original[ch], inputs[ch], sizeof(Sample) * static_cast<std::size_t>(frames)) == 0,
                      "input buffer changed");
            const char* fault = checkOutput(outputs[ch], frames, !inPlace, parametersInUnitRange());
            check(fault == nullptr, fault);
        }
        for (ChannelBuffer& buffer : buffers) buffer.release();
    }

    VstIntPtr close() { return call(effClose, 0, 0, nullptr, 0.0f, false); }

    static void poisonBuffers() {
        for (ChannelBuffer& buffer : buffers) buffer.poisonAll();
    }

private:
    VstIntPtr call(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt,
                   bool stillOpen = true) {
        const VstIntPtr result = record->dispatcher(record, opcode, index, value, ptr, opt);
        if (stillOpen) checkRecord(opcode);
        return result;
    }

    // Only the constructors write the record; no host call may change it.
    void checkRecord(int opcode) {
        check(std::memcmp(&snapshot, record, sizeof snapshot) == 0, "effect record changed", opcode);
    }

    bool parametersInUnitRange() const {
        for (float p : parameters)
            if (!(p >= 0.0f && p <= 1.0f)) return false;
        return true;
    }

    AEffect* record;
    AEffect snapshot;
    float parameters[3];
    int framesLeft = kFramesPerInput;
    // The host's buffers, kept from input to input: each call prepares them
    // afresh.
    static inline GuardedBuffer a, b;
    static inline ChannelBuffer buffers[6];  // inputs, outputs, inputs as they were
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::memset(guardPattern, kGuardByte, sizeof guardPattern);
    std::memset(fillPattern, kFill, sizeof fillPattern);
    Session::poisonBuffers();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    varkel::resetRandom();  // the same input always makes the same noise
    AEffect* record = VSTPluginMain(hostCallback);
    check(record != nullptr && record->magic == kEffectMagic, "no effect from the entry point");
    currentRecord = record;
    Session session(record);

    InputReader in(data, size);
    for (int calls = 0; calls < 256 && !in.empty(); ++calls) {
        switch (in.byte() % 8) {
            case 0:
            case 1: session.dispatch(in); break;
            case 2: session.setParameter(in); break;
            case 3: session.getParameter(in); break;
            case 4: session.process<float>(in); break;
            case 5: session.process<double>(in); break;
            default: session.retune(in); break;
        }
    }
    check(session.close() == 1, "effClose must answer 1", effClose);
    currentRecord = nullptr;
    return 0;
}
