// Cost of the op-amp stage per channel-sample: the plain model against the
// shipped processor reached through the record, as a host calls it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "dsp/noise_tables.h"
#include "framework/plugin_entry.h"
#include "plain_model.h"

namespace {

VstIntPtr hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

// A second of music-like stereo material: two detuned tones and a little
// broadband content, loud enough to reach the clipper.
template <typename Sample>
std::vector<Sample> testSignal(int frames, int channel) {
    std::vector<Sample> s(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        const double t = i / 44100.0;
        s[static_cast<size_t>(i)] = static_cast<Sample>(
            0.6 * std::sin(2 * M_PI * (110.0 + 3 * channel) * t) +
            0.3 * std::sin(2 * M_PI * 1870.0 * t) + 0.05 * std::sin(2 * M_PI * 9100.0 * t));
    }
    return s;
}

constexpr int kSignalFrames = 44100;

struct Effect {
    Effect() : record(createEffectInstance(hostCallback)->getAeffect()) {
        record->dispatcher(record, effOpen, 0, 0, nullptr, 0.0f);
        record->dispatcher(record, effMainsChanged, 0, 1, nullptr, 0.0f);
    }
    ~Effect() { record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f); }
    AEffect* record;
};

void PlainModel(benchmark::State& state) {
    auto left = testSignal<float>(kSignalFrames, 0);
    auto right = testSignal<float>(kSignalFrames, 1);
    std::vector<float> outL(left.size()), outR(right.size());
    plain::Model model(44100);
    plain::Lcg rng;
    for (auto _ : state) {
        for (int i = 0; i < kSignalFrames; ++i) {
            outL[i] = model.process(0, left[i], rng);
            outR[i] = model.process(1, right[i], rng);
        }
        benchmark::DoNotOptimize(outL.data());
        benchmark::DoNotOptimize(outR.data());
    }
    state.SetItemsProcessed(state.iterations() * kSignalFrames * 2);
}
BENCHMARK(PlainModel)->Unit(benchmark::kMicrosecond);

template <typename Sample>
void processThroughRecord(AEffect* record, Sample** in, Sample** out, int frames) {
    if constexpr (sizeof(Sample) == 4)
        record->processReplacing(record, in, out, frames);
    else
        record->processDoubleReplacing(record, in, out, frames);
}

// The whole test signal in host blocks of the given size.
template <typename Sample>
void Processor(benchmark::State& state) {
    const int block = static_cast<int>(state.range(0));
    auto left = testSignal<Sample>(kSignalFrames, 0);
    auto right = testSignal<Sample>(kSignalFrames, 1);
    std::vector<Sample> outL(left.size()), outR(right.size());
    Effect fx;
    for (auto _ : state) {
        for (int pos = 0; pos + block <= kSignalFrames; pos += block) {
            Sample* in[2] = {left.data() + pos, right.data() + pos};
            Sample* out[2] = {outL.data() + pos, outR.data() + pos};
            processThroughRecord(fx.record, in, out, block);
        }
        benchmark::DoNotOptimize(outL.data());
    }
    state.SetItemsProcessed(state.iterations() * (kSignalFrames / block) * block * 2);
}
BENCHMARK(Processor<float>)
    ->Name("Processor/float")
    ->Arg(1)
    ->Arg(8)
    ->Arg(32)
    ->Arg(512)
    ->Arg(4096)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(Processor<double>)->Name("Processor/double")->Arg(512)->Unit(benchmark::kMicrosecond);

// After a loud second, PreGain 0: the filter states decay towards zero
// through the subnormal range.
void DenormalTail(benchmark::State& state) {
    constexpr int block = 512;
    auto loud = testSignal<float>(kSignalFrames, 0);
    for (float& s : loud) s *= 8.0f;
    std::vector<float> silence(kSignalFrames, 0.0f), outL(kSignalFrames), outR(kSignalFrames);
    Effect fx;
    {
        float* in[2] = {loud.data(), loud.data()};
        float* out[2] = {outL.data(), outR.data()};
        fx.record->processReplacing(fx.record, in, out, kSignalFrames);
    }
    fx.record->setParameter(fx.record, 0, 0.0f);
    for (auto _ : state) {
        for (int pos = 0; pos + block <= kSignalFrames; pos += block) {
            float* in[2] = {loud.data() + pos, silence.data() + pos};
            float* out[2] = {outL.data() + pos, outR.data() + pos};
            fx.record->processReplacing(fx.record, in, out, block);
        }
        benchmark::DoNotOptimize(outL.data());
    }
    state.SetItemsProcessed(state.iterations() * (kSignalFrames / block) * block * 2);
}
BENCHMARK(DenormalTail)->Unit(benchmark::kMicrosecond);

void NoiseTableBuild(benchmark::State& state) {
    static varkel::NoiseTables tables;
    for (auto _ : state) {
        varkel::computeNoiseTables(tables);
        benchmark::DoNotOptimize(tables.cosine);
    }
}
BENCHMARK(NoiseTableBuild)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
