// Threads meet Varkel instances the way hosts use them: audio on one thread
// while another writes parameters and reads their texts, sample-rate changes
// on one thread while parameters arrive on another, and several instances
// processing on several threads at once. Built with ThreadSanitizer these
// runs show the sharing is free of data races; in any build they check that
// nothing is lost or mixed up between the threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <latch>
#include <thread>
#include <vector>

#include "dsp/random_source.h"
#include "abi/aeffect.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback audioMaster);

namespace {

VstIntPtr hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

class Effect {
public:
    Effect() : record(VSTPluginMain(hostCallback)) {}
    ~Effect() {
        if (record != nullptr) record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f);
    }
    Effect(const Effect&) = delete;
    Effect& operator=(const Effect&) = delete;

    bool valid() const { return record != nullptr; }
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f) const {
        return record->dispatcher(record, opcode, index, value, ptr, opt);
    }
    void start(float rate, VstInt32 blockFrames) const {
        dispatch(effOpen);
        dispatch(effSetSampleRate, 0, 0, nullptr, rate);
        dispatch(effSetBlockSize, 0, blockFrames);
        dispatch(effMainsChanged, 0, 1);
    }
    void setParameter(VstInt32 index, float value) const { record->setParameter(record, index, value); }
    float getParameter(VstInt32 index) const { return record->getParameter(record, index); }

    // Processes one stereo block in place and says whether every sample came out finite.
    template <typename Sample>
    bool process(std::vector<Sample>& left, std::vector<Sample>& right) const {
        Sample* channels[2] = {left.data(), right.data()};
        const auto frames = static_cast<VstInt32>(left.size());
        if constexpr (sizeof(Sample) == sizeof(float))
            record->processReplacing(record, channels, channels, frames);
        else
            record->processDoubleReplacing(record, channels, channels, frames);
        for (VstInt32 i = 0; i < frames; ++i)
            if (!std::isfinite(left[i]) || !std::isfinite(right[i])) return false;
        return true;
    }

private:
    AEffect* record;
};

constexpr int kFrames = 256;

template <typename Sample>
void fillSignal(std::vector<Sample>& left, std::vector<Sample>& right, int block) {
    left.resize(kFrames);
    right.resize(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        const double t = static_cast<double>(block * kFrames + i);
        left[i] = static_cast<Sample>(0.9 * std::sin(0.05 * t));
        right[i] = static_cast<Sample>(0.7 * std::sin(0.013 * t + 1.0));
    }
}

// Values in 0..1, where the output must stay finite.
constexpr float kValues[] = {0.0f, 0.1f, 0.25118864f, 0.5f, 0.75f, 0.9f, 1.0f, 0.33f};

// Writes each parameter in turn, reads it back and asks for its texts, until
// told to stop. Counts read-backs that differ and texts that overrun or lack
// a terminator. Only this thread writes, so a read must return its own write.
struct WriterTally {
    int mismatches = 0;
    int badTexts = 0;
    int rounds = 0;
};

struct ParameterWriter {
    const Effect& fx;
    const std::atomic<bool>& stop;
    WriterTally tally;

    void operator()() {
        for (int step = 0; !stop.load(std::memory_order_relaxed) || tally.rounds < 300;
             ++step, ++tally.rounds) {
            const VstInt32 index = step % 3;
            const float value = kValues[step % 8];
            fx.setParameter(index, value);
            if (fx.getParameter(index) != value) ++tally.mismatches;
            for (VstInt32 opcode : {effGetParamDisplay, effGetParamName, effGetParamLabel}) {
                char text[kVstMaxParamStrLen + 1 + 16];
                std::memset(text, 'x', sizeof text);
                fx.dispatch(opcode, index, 0, text);
                const bool terminated = std::memchr(text, 0, kVstMaxParamStrLen + 1) != nullptr;
                bool tailUntouched = true;
                for (std::size_t i = kVstMaxParamStrLen + 1; i < sizeof text; ++i)
                    tailUntouched = tailUntouched && text[i] == 'x';
                if (!terminated || !tailUntouched || text[0] == 0) ++tally.badTexts;
            }
        }
    }
};

// Runs work on one thread and a ParameterWriter on another, started
// together; the writer stops once work is done (and it has had its rounds).
WriterTally runBesideWriter(const Effect& fx, const std::function<void()>& work) {
    std::atomic<bool> done{false};
    std::latch ready(2);
    ParameterWriter writer{fx, done, {}};
    std::thread worker([&] {
        ready.arrive_and_wait();
        work();
        done = true;
    });
    std::thread control([&] {
        ready.arrive_and_wait();
        writer();
    });
    worker.join();
    control.join();
    return writer.tally;
}

TEST(Concurrency, ParameterWritesAndTextsWhileAudioRuns) {
    Effect fx;
    ASSERT_TRUE(fx.valid());
    fx.start(44100.0f, kFrames);
    int nonFiniteBlocks = 0;

    const WriterTally writer = runBesideWriter(fx, [&] {
        std::vector<float> left, right;
        std::vector<double> left64, right64;
        for (int block = 0; block < 300; ++block) {
            bool finite;
            if (block % 2 == 0) {
                fillSignal(left, right, block);
                finite = fx.process(left, right);
            } else {
                fillSignal(left64, right64, block);
                finite = fx.process(left64, right64);
            }
            if (!finite) ++nonFiniteBlocks;
        }
    });

    EXPECT_EQ(nonFiniteBlocks, 0);
    EXPECT_EQ(writer.mismatches, 0);
    EXPECT_EQ(writer.badTexts, 0);
    EXPECT_GE(writer.rounds, 300);
}

// A host reconfigures on its main thread (switch off, new rate, switch on,
// carry on processing) while automation writes parameters from another
// thread. The writes must all land, and the processor must stay usable.
TEST(Concurrency, SampleRateChangesWhileParametersAreWritten) {
    Effect fx;
    ASSERT_TRUE(fx.valid());
    fx.start(44100.0f, kFrames);
    int nonFiniteBlocks = 0;

    const WriterTally writer = runBesideWriter(fx, [&] {
        const float rates[] = {48000.0f, 96000.0f, 22050.0f, 44100.0f, 0.0f, -1.0f};
        std::vector<float> left, right;
        for (int round = 0; round < 120; ++round) {
            fx.dispatch(effMainsChanged, 0, 0);
            fx.dispatch(effSetSampleRate, 0, 0, nullptr, rates[round % 6]);
            fx.dispatch(effMainsChanged, 0, 1);
            fillSignal(left, right, round);
            if (!fx.process(left, right)) ++nonFiniteBlocks;
        }
    });

    EXPECT_EQ(nonFiniteBlocks, 0);
    EXPECT_EQ(writer.mismatches, 0);
    EXPECT_EQ(writer.badTexts, 0);
}

// Each thread's noise comes from its own generator: instances processing on
// several threads at once give exactly what each gives when run alone.
TEST(Concurrency, InstancesOnSeparateThreadsMatchSolitaryRuns) {
    constexpr int kInstances = 4;
    constexpr int kBlocks = 40;
    const float preGains[kInstances] = {0.25118864f, 0.5f, 1.0f, 0.1f};
    const float cutOffs[kInstances] = {1.0f, 0.3f, 0.6f, 0.05f};

    // One instance's whole render, from a generator restarted at 1.
    auto render = [&](int k) {
        varkel::resetRandom(1);
        Effect fx;  // created here, so instances are also created concurrently
        std::vector<float> out;
        if (!fx.valid()) return out;
        fx.start(44100.0f, kFrames);
        fx.setParameter(0, preGains[k]);
        fx.setParameter(1, cutOffs[k]);
        std::vector<float> left, right;
        for (int block = 0; block < kBlocks; ++block) {
            fillSignal(left, right, block);
            fx.process(left, right);
            out.insert(out.end(), left.begin(), left.end());
            out.insert(out.end(), right.begin(), right.end());
        }
        return out;
    };

    std::vector<std::vector<float>> together(kInstances);
    {
        std::latch ready(kInstances);
        std::vector<std::thread> threads;
        for (int k = 0; k < kInstances; ++k)
            threads.emplace_back([&, k] {
                ready.arrive_and_wait();
                together[k] = render(k);
            });
        for (auto& t : threads) t.join();
    }
    for (int k = 0; k < kInstances; ++k) {
        const std::vector<float> alone = render(k);
        ASSERT_EQ(alone.size(), static_cast<std::size_t>(2 * kFrames * kBlocks));
        ASSERT_EQ(together[k].size(), alone.size()) << k;
        EXPECT_EQ(std::memcmp(together[k].data(), alone.data(), alone.size() * sizeof(float)), 0)
            << "instance " << k << " differs when run beside the others";
    }
}

}  // namespace
