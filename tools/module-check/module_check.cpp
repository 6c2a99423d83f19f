// varkel-module-check MODULE OUTDIR
//
// Loads a built Varkel module the way a host does, checks its exports, its
// module handle and its identity, then renders a generated test signal in
// both precisions and writes the raw output bytes and the parameter texts
// into OUTDIR. The same source is built for Linux and for Windows, so the
// files of the two builds can be compared byte for byte.
//
// The test signal is made with integer arithmetic only and scaled by powers
// of two, so both builds feed the module exactly the same samples whatever
// their maths libraries do.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "host/fresh_thread.h"
#include "host/plugin_instance.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

struct VarkelState;

namespace {

using varkel::host::PluginInstance;
using varkel::host::PluginModule;

int passed = 0;
int failed = 0;

void check(bool ok, const std::string& what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL %s\n", what.c_str());
    }
}

void checkText(const std::string& got, const char* expected, const std::string& what) {
    check(got == expected, what + ": got \"" + got + "\", expected \"" + expected + "\"");
}

void checkNumber(long long got, long long expected, const std::string& what) {
    check(got == expected,
          what + ": got " + std::to_string(got) + ", expected " + std::to_string(expected));
}

// The address the module was loaded at, which is what the loader hands to DllMain.
void* moduleBase(const PluginModule& module) {
#if defined(_WIN32)
    return module.nativeHandle();
#else
    Dl_info info{};
    if (dladdr(module.symbol("VSTPluginMain"), &info) == 0) return nullptr;
    return info.dli_fbase;
#endif
}

class OutputFile {
public:
    explicit OutputFile(const std::string& path)
        : path(path), file(std::fopen(path.c_str(), "wb")) {}
    ~OutputFile() {
        const bool closed = file != nullptr && std::fclose(file) == 0;
        check(closed && written, "cannot write " + path);
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void write(const void* data, std::size_t bytes) {
        if (file != nullptr && bytes > 0 && std::fwrite(data, 1, bytes, file) != bytes)
            written = false;
    }
    void line(const std::string& text) {
        write(text.data(), text.size());
        write("\n", 1);
    }

private:
    std::string path;
    std::FILE* file;
    bool written = true;
};

// --- the module ---

const char* const kExports[] = {
    "VSTPluginMain",
    "MAIN",
    "hInstance",
    "Varkel_new",
    "Varkel_process",
    "Varkel_delete",
    "_ZN10PlugCanDos11canDoBypassE",
    "_ZN10PlugCanDos24canDoReceiveVstMidiEventE",
    "_ZN10HostCanDos18canDoSendVstEventsE",
    "_ZN10HostCanDos35canDoSendVstMidiEventFlagIsRealtimeE",
};

void checkExports(const PluginModule& module) {
    for (const char* name : kExports)
        check(module.symbol(name) != nullptr, std::string("export ") + name + " missing");
    // The loader's hook stays private.
    check(module.symbol("DllMain") == nullptr, "DllMain is exported");

    struct Capability {
        const char* symbol;
        const char* text;
    };
    const Capability capabilities[] = {
        {"_ZN10PlugCanDos11canDoBypassE", "bypass"},
        {"_ZN10HostCanDos35canDoSendVstMidiEventFlagIsRealtimeE", "sendVstMidiEventFlagIsRealtime"},
    };
    for (const Capability& c : capabilities) {
        const auto* variable = static_cast<const char* const*>(module.symbol(c.symbol));
        if (variable != nullptr) checkText(*variable, c.text, c.symbol);
    }

    const auto* handle = static_cast<void* const*>(module.symbol("hInstance"));
    if (handle != nullptr) {
        check(*handle != nullptr, "hInstance is null after loading");
        check(*handle == moduleBase(module), "hInstance is not the module handle");
    }
}

void checkIdentity(const PluginModule& module, OutputFile& texts) {
    std::string error;
    auto fx = PluginInstance::create(module, error);
    check(fx != nullptr, "VSTPluginMain: " + error);
    if (!fx) return;
    const AEffect* e = fx->effect();
    checkNumber(e->uniqueID, fourCharCode('V', 'r', 'k', 'l'), "uniqueID");
    checkNumber(e->numParams, 3, "numParams");
    checkNumber(e->numPrograms, 1, "numPrograms");
    checkNumber(e->numInputs, 2, "numInputs");
    checkNumber(e->numOutputs, 2, "numOutputs");
    check(fx->canReplace() && fx->canDoubleReplace(), "the record does not offer both precisions");
    checkText(fx->effectName(), "Varkel", "effect name");
    checkText(fx->vendorString(), "Ostrelvane", "vendor");
    checkText(fx->productString(), "Brox Varkel", "product");
    checkNumber(fx->dispatch(effGetVendorVersion), 1000, "vendor version");
    checkText(fx->programName(), "Default", "program name");
    const char* const names[] = {"PreGain", "LPCutOff", "PostGain"};
    const char* const labels[] = {"dB", "Hz", "dB"};
    for (VstInt32 i = 0; i < 3; ++i) {
        checkText(fx->parameterName(i), names[i], "name of parameter " + std::to_string(i));
        checkText(fx->parameterLabel(i), labels[i], "label of parameter " + std::to_string(i));
    }

    // Every text the host can read, for the cross-platform comparison.
    texts.line(fx->effectName() + "|" + fx->vendorString() + "|" + fx->productString() + "|" +
               fx->programName());
    for (VstInt32 i = 0; i < e->numParams; ++i) {
        texts.line(std::to_string(i) + " " + fx->parameterName(i) + " " + fx->parameterLabel(i));
        // Every multiple of 2^-12 in [0, 1], then a few edge values.
        for (int step = 0; step <= 4096; ++step) {
            const float value = static_cast<float>(step) / 4096.0f;
            fx->setParameter(i, value);
            texts.line(std::to_string(i) + " " + std::to_string(step) + " " +
                       fx->parameterDisplay(i));
        }
        const float edges[] = {1.0e-30f, 1.0e-7f, 0.25118864f, 0.99999994f, 1.5f, -0.5f};
        for (float value : edges) {
            fx->setParameter(i, value);
            std::uint32_t bits;
            std::memcpy(&bits, &value, sizeof bits);
            texts.line(std::to_string(i) + " #" + std::to_string(bits) + " " +
                       fx->parameterDisplay(i));
        }
    }
    checkNumber(fx->close(), 1, "effClose");

    auto mainEntry = reinterpret_cast<varkel::host::EntryPoint>(module.symbol("MAIN"));
    if (mainEntry != nullptr) {
        AEffect* other = mainEntry(varkel::host::basicHostCallback);
        check(other != nullptr && other->magic == kEffectMagic, "MAIN returned no effect");
        if (other != nullptr) other->dispatcher(other, effClose, 0, 0, nullptr, 0.0f);
    }
}

// --- the test signal ---

constexpr int kFrames = 32768;
constexpr int kSegment = 4096;
constexpr double kUnit = 1.0 / 4194304.0;  // 2^-22: every sample is k * 2^-22, exact in float

// One channel of the signal in units of 2^-22, segment by segment: quiet and
// loud triangles, silence (the filters decay towards denormals), full-scale
// noise, a DC step, a square wave fast enough to hit the slew limit, sparse
// impulses, and a blend.
std::int32_t signalUnits(int channel, int i, std::uint32_t& lcg) {
    lcg = lcg * 1664525u + 1013904223u;
    const std::int32_t noise = static_cast<std::int32_t>(lcg >> 9) - (1 << 22);  // about +-1
    const int period = channel == 0 ? 101 : 37;
    const int phase = i % period;
    const int rise = phase < period / 2 ? phase : period - phase;
    const std::int32_t triangle = static_cast<std::int32_t>(
        (static_cast<std::int64_t>(rise) * 2 * (1 << 22)) / (period / 2) - (1 << 22));  // +-1
    const std::int32_t square = (i / (channel == 0 ? 9 : 13)) % 2 == 0 ? 3 << 22 : -(3 << 22);
    switch (i / kSegment) {
        case 0:
            return triangle / 128;
        case 1:
            return triangle * 2;
        case 2:
            return 0;
        case 3:
            return noise;
        case 4:
            return (1 << 21) + triangle / 64;
        case 5:
            return square;
        case 6:
            return i % 997 == 0 ? (channel == 0 ? 4 << 22 : -(4 << 22)) : 0;
        default:
            return triangle / 2 + noise / 4;
    }
}

struct TestSignal {
    std::vector<float> single[2];
    std::vector<double> doubled[2];

    TestSignal() {
        for (int ch = 0; ch < 2; ++ch) {
            std::uint32_t lcg = 12345u + static_cast<std::uint32_t>(ch);
            single[ch].resize(kFrames);
            doubled[ch].resize(kFrames);
            for (int i = 0; i < kFrames; ++i) {
                const double value = signalUnits(ch, i, lcg) * kUnit;
                single[ch][i] = static_cast<float>(value);
                // Bits below single precision, so the module's own narrowing is exercised.
                doubled[ch][i] = value + static_cast<double>((i * 7 + ch) % 64 - 32) * 0x1p-40;
            }
        }
    }
};

// --- rendering ---

// How the host lays out the buffers: apart, in place, or with the left
// output written over the right input (the module then cannot read both
// channels of a frame after writing one).
enum class Buffers { kSeparate, kInPlace, kLeftOverRight };

struct Setting {
    float preGain, cutOff, postGain;
    Buffers buffers;
};

// Defaults, heavy drive with a low corner, no drive (no noise, narrowest dead
// zone), and corners high enough for the band filter to overshoot.
const Setting kSettings[] = {
    {0.25118864f, 1.0f, 0.25118864f, Buffers::kSeparate},
    {1.0f, 0.125f, 0.75f, Buffers::kSeparate},
    {0.0f, 0.5f, 1.0f, Buffers::kSeparate},
    {0.625f, 0.875f, 0.5f, Buffers::kInPlace},
    {0.5f, 0.75f, 0.375f, Buffers::kLeftOverRight},
};

// Block lengths cycle through these, so runs start and end at odd places.
const int kBlockLengths[] = {1, 64, 1000, 7, 512, 333, 1024};

template <typename Sample>
void processBlock(const PluginInstance& fx, Sample** in, Sample** out, VstInt32 frames) {
    if constexpr (sizeof(Sample) == sizeof(float))
        fx.process(in, out, frames);
    else
        fx.processDouble(in, out, frames);
}

// Renders the whole signal through a new instance; the output, channel after
// channel, is appended to rendered.
template <typename Sample>
void render(const PluginModule& module, const std::vector<Sample> (&input)[2],
            const Setting& setting, std::vector<Sample>& rendered) {
    std::string error;
    auto fx = PluginInstance::create(module, error);
    check(fx != nullptr, "render: " + error);
    if (!fx) return;
    fx->start(44100.0f, 1024);
    fx->setParameter(0, setting.preGain);
    fx->setParameter(1, setting.cutOff);
    fx->setParameter(2, setting.postGain);

    std::vector<Sample> out[2] = {std::vector<Sample>(kFrames), std::vector<Sample>(kFrames)};
    if (setting.buffers == Buffers::kInPlace) {
        out[0] = input[0];
        out[1] = input[1];
    } else if (setting.buffers == Buffers::kLeftOverRight) {
        out[0] = input[1];
    }
    int block = 0;
    for (int start = 0; start < kFrames; ++block) {
        const int frames =
            std::min(kBlockLengths[block % std::size(kBlockLengths)], kFrames - start);
        // Automation: PreGain moves by exact steps every few blocks.
        if (block % 5 == 4) fx->setParameter(0, static_cast<float>(block % 16) / 16.0f);
        Sample* outputs[2] = {out[0].data() + start, out[1].data() + start};
        Sample* inputs[2] = {const_cast<Sample*>(input[0].data()) + start,
                             const_cast<Sample*>(input[1].data()) + start};
        if (setting.buffers == Buffers::kInPlace) {
            inputs[0] = outputs[0];
            inputs[1] = outputs[1];
        } else if (setting.buffers == Buffers::kLeftOverRight) {
            inputs[1] = outputs[0];
        }
        processBlock(*fx, inputs, outputs, frames);
        start += frames;
    }
    for (const auto& channel : out) rendered.insert(rendered.end(), channel.begin(), channel.end());
}

template <typename Sample>
void renderAll(const PluginModule& module, const std::vector<Sample> (&input)[2],
               const std::string& path) {
    std::vector<Sample> rendered;
    for (const Setting& setting : kSettings) render(module, input, setting, rendered);
    checkNumber(static_cast<long long>(rendered.size()), 2LL * kFrames * std::size(kSettings),
                "samples rendered to " + path);
    OutputFile file(path);
    file.write(rendered.data(), rendered.size() * sizeof(Sample));
}

// The exported processor on its own, left and right interleaved.
void renderProcessor(const PluginModule& module, const TestSignal& signal,
                     const std::string& path) {
    using New = VarkelState* (*)(int);
    using Process = float (*)(int, VarkelState*, float);
    using Delete = void (*)(VarkelState*);
    auto create = reinterpret_cast<New>(module.symbol("Varkel_new"));
    auto process = reinterpret_cast<Process>(module.symbol("Varkel_process"));
    auto destroy = reinterpret_cast<Delete>(module.symbol("Varkel_delete"));
    if (create == nullptr || process == nullptr || destroy == nullptr) return;
    VarkelState* state = create(44100);
    check(state != nullptr, "Varkel_new(44100) returned null");
    if (state == nullptr) return;
    std::vector<float> out;
    out.reserve(2 * kFrames);
    for (int i = 0; i < kFrames; ++i)
        for (int ch = 0; ch < 2; ++ch) out.push_back(process(ch, state, signal.single[ch][i]));
    destroy(state);
    OutputFile file(path);
    file.write(out.data(), out.size() * sizeof(float));
}

// A thread's noise generator starts from the same state on every new thread,
// so the same render on two fresh threads must give the same bits.
void checkFreshThreads(const PluginModule& module, const TestSignal& signal,
                       const std::string& path) {
    std::vector<float> first, second;
    varkel::host::onFreshThread([&] { render(module, signal.single, kSettings[1], first); });
    varkel::host::onFreshThread([&] { render(module, signal.single, kSettings[1], second); });
    check(!first.empty() && first == second, "renders on two fresh threads differ");
    OutputFile file(path);
    file.write(first.data(), first.size() * sizeof(float));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s MODULE OUTDIR\n", argv[0]);
        return 2;
    }
    const std::string outdir = argv[2];
    std::string error;
    auto module = PluginModule::load(argv[1], error);
    if (!module) {
        std::printf("FAIL %s\n", error.c_str());
        return 1;
    }
    checkExports(*module);
    {
        OutputFile texts(outdir + "/texts.txt");
        checkIdentity(*module, texts);
    }
    const TestSignal signal;
    renderAll(*module, signal.single, outdir + "/render-32.raw");
    renderAll(*module, signal.doubled, outdir + "/render-64.raw");
    renderProcessor(*module, signal, outdir + "/processor.raw");
    checkFreshThreads(*module, signal, outdir + "/fresh-thread.raw");

    std::printf("module-check: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
