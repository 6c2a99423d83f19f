#include "check/check_test.h"

#include <algorithm>
#include <barrier>
#include <chrono>
#include <cmath>
#include <exception>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include "analysis/impulse.h"
#include "analysis/plugin_device.h"
#include "check/check_rig.h"
#include "check/metadata_checks.h"
#include "check/realtime_watch.h"
#include "host/fresh_thread.h"

namespace varkel::check {

namespace {

using engine::ParameterInfo;
using engine::Plugin;

constexpr double kRate = 48000.0;
constexpr std::uint32_t kSeed = 1;
constexpr int kBlock = 512;

struct Verdict {
    Status status = Status::Pass;
    std::string detail;
};

Verdict pass(std::string detail) { return {Status::Pass, std::move(detail)}; }
Verdict fail(std::string detail) { return {Status::Fail, std::move(detail)}; }
Verdict warn(std::string detail) { return {Status::Warn, std::move(detail)}; }
Verdict skip(std::string detail) { return {Status::Skip, std::move(detail)}; }

std::string decibels(double db) {
    if (std::isinf(db)) return "-inf dB";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dB", db);
    return text;
}

std::size_t framesOf(double seconds, double rate) {
    return static_cast<std::size_t>(std::llround(seconds * rate));
}

Audio inputFor(Plugin& plugin, std::size_t frames, double rate) {
    return testSignal(plugin.inputs(), frames, rate);
}

// The values a parameter is swept over: its toggle's two, every step of an
// integer or enumeration (at most 65 of them), its scale points, else eleven
// steps over its range (geometric for a logarithmic one).
std::vector<float> sweepValues(const ParameterInfo& p) {
    std::vector<float> values;
    if (p.enumeration && !p.scalePoints.empty()) {
        // An enumeration takes its labelled values only.
        for (const auto& point : p.scalePoints) values.push_back(point.first);
        return values;
    }
    if (p.toggled) {
        values = {p.minimum, p.maximum};
    } else if (p.integer || p.enumeration) {
        const double low = std::ceil(p.minimum), high = std::floor(p.maximum);
        const double step = std::max(1.0, std::ceil((high - low) / 64.0));
        for (double v = low; v <= high; v += step) values.push_back(static_cast<float>(v));
        values.push_back(static_cast<float>(high));
    } else {
        const bool geometric = p.logarithmic && p.minimum > 0.0f && p.maximum > 0.0f;
        for (int i = 0; i <= 10; ++i) {
            const double t = i / 10.0;
            values.push_back(static_cast<float>(
                geometric ? p.minimum * std::pow(p.maximum / p.minimum, t)
                          : p.minimum + t * (p.maximum - p.minimum)));
        }
    }
    for (const auto& point : p.scalePoints) values.push_back(point.first);
    // pow's rounding must not step outside the range.
    for (float& v : values) v = std::clamp(v, p.minimum, p.maximum);
    return values;
}

// One value of each parameter drawn at random from its sweep.
std::vector<float> randomSettings(Plugin& plugin, std::mt19937& draw) {
    std::vector<float> settings;
    for (int i = 0; i < plugin.parameterCount(); ++i) {
        const std::vector<float> values = sweepValues(plugin.parameterInfo(i));
        settings.push_back(values[std::uniform_int_distribution<std::size_t>(0, values.size() - 1)(draw)]);
    }
    return settings;
}

void applySettings(Plugin& plugin, const std::vector<float>& settings) {
    for (std::size_t i = 0; i < settings.size(); ++i)
        plugin.setParameter(static_cast<int>(i), settings[i]);
}

Verdict load(const std::string& name, const CheckSettings&) {
    Rig rig(name, kRate);
    Plugin& p = rig.plugin();
    return pass(p.name() + " (" + p.format() + "): " + std::to_string(p.inputs()) + " in, " +
                std::to_string(p.outputs()) + " out, " + std::to_string(p.parameterCount()) +
                " parameters, latency " + std::to_string(p.latency()) +
                (p.isInstrument() ? ", an instrument" : ""));
}

Verdict findingsVerdict(const Findings& found, const std::string& clean) {
    const auto joined = [](const std::vector<std::string>& lines) {
        std::string text;
        for (std::size_t i = 0; i < lines.size() && i < 5; ++i) text += (i ? "; " : "") + lines[i];
        if (lines.size() > 5) text += "; and " + std::to_string(lines.size() - 5) + " more";
        return text;
    };
    if (!found.faults.empty()) return fail(joined(found.faults));
    if (!found.warnings.empty()) return warn(joined(found.warnings));
    return pass(clean);
}

Verdict metadata(const std::string& name, const CheckSettings&) {
    Rig rig(name, kRate);
    return findingsVerdict(metadataFindings(rig.plugin()), "consistent");
}

Verdict parameterText(const std::string& name, const CheckSettings&) {
    Rig rig(name, kRate);
    return findingsVerdict(parameterTextFindings(rig.plugin()),
                           std::to_string(rig.plugin().parameterCount()) + " parameters' texts valid");
}

// Blocks of 1, 7, 64, 512, 4096 and random ones, a fresh instance each.
Verdict processing(const std::string& name, bool inPlace) {
    std::vector<BlockPattern> patterns;
    for (int frames : {1, 7, 64, 512, 4096}) patterns.push_back(BlockPattern::fixed(frames));
    patterns.push_back(BlockPattern::random(kSeed));
    for (const BlockPattern& pattern : patterns) {
        Rig rig(name, kRate);
        const std::size_t frames = framesOf(0.5, kRate);
        const Audio out =
            rig.render(inputFor(rig.plugin(), frames, kRate), frames, pattern, inPlace);
        if (auto where = firstNonFinite(out)) return fail(pattern.describe() + ": " + *where);
    }
    return pass("finite at blocks of 1, 7, 64, 512, 4096 and random blocks");
}

Verdict processInPlace(const std::string& name, const CheckSettings&) {
    return processing(name, true);
}
Verdict processOutOfPlace(const std::string& name, const CheckSettings&) {
    return processing(name, false);
}

Verdict processRates(const std::string& name, const CheckSettings&) {
    for (double rate : {22050.0, 44100.0, 48000.0, 96000.0, 192000.0}) {
        Rig rig(name, rate);
        const std::size_t frames = framesOf(0.5, rate);
        const Audio out = rig.render(inputFor(rig.plugin(), frames, rate), frames,
                                     BlockPattern::random(kSeed));
        if (auto where = firstNonFinite(out))
            return fail("at " + std::to_string(static_cast<int>(rate)) + " Hz: " + *where);
    }
    return pass("finite at 22050, 44100, 48000, 96000 and 192000 Hz");
}

// Renders silence in 0.1 s pieces until one peaks below the level; the
// seconds that took, or nothing when it did not within limit seconds.
std::optional<double> decayTime(Rig& rig, double level, double limit, double& lastPeak,
                                std::optional<std::string>& nonFinite,
                                const Rig::BeforeBlock& before = {}) {
    const std::size_t piece = framesOf(0.1, rig.rate());
    const Audio quiet = silence(rig.plugin().inputs(), piece);
    for (double t = 0.0; t < limit; t += 0.1) {
        const Audio out = rig.render(quiet, piece, BlockPattern::fixed(kBlock), false, before);
        if ((nonFinite = firstNonFinite(out))) return std::nullopt;
        lastPeak = peakDbfs(out, 0, piece);
        if (lastPeak < level) return t;
    }
    return std::nullopt;
}

Verdict silenceTest(const std::string& name, const CheckSettings& settings) {
    Rig rig(name, kRate);
    const std::size_t frames = framesOf(0.5, kRate);
    const Audio out = rig.render(inputFor(rig.plugin(), frames, kRate), frames,
                                 BlockPattern::fixed(kBlock));
    if (auto where = firstNonFinite(out)) return fail(*where);
    double peak = 0.0;
    std::optional<std::string> nonFinite;
    const auto took = decayTime(rig, settings.silenceDbfs, 10.0, peak, nonFinite);
    if (nonFinite) return fail("on silence: " + *nonFinite);
    if (!took)
        return fail("still " + decibels(peak) + "FS after 10 s of silence (the level is " +
                    decibels(settings.silenceDbfs) + "FS)");
    char text[128];
    std::snprintf(text, sizeof text, "below %sFS %.1f s after the input stops",
                  decibels(settings.silenceDbfs).c_str(), *took);
    return pass(text);
}

// Seconds per second of audio of each second of a render of silence, the
// plug-in first fed the signal for seconds of lead (none: silence only).
std::vector<double> secondsPerSecond(const std::string& name, double lead, int seconds) {
    Rig rig(name, kRate);
    const std::size_t second = framesOf(1.0, kRate);
    if (lead > 0.0) {
        const std::size_t frames = framesOf(lead, kRate);
        rig.render(inputFor(rig.plugin(), frames, kRate), frames, BlockPattern::fixed(kBlock));
    }
    const Audio quiet = silence(rig.plugin().inputs(), second);
    std::vector<double> times;
    for (int s = 0; s < seconds; ++s) {
        const auto start = std::chrono::steady_clock::now();
        rig.render(quiet, second, BlockPattern::fixed(kBlock));
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return times;
}

// A plug-in whose filters run into denormal numbers as its tail decays gets
// many times slower than it is on silence and on the signal (many skip
// their work on exact silence, so silence alone is no measure); the
// quickest of three runs of each second, so that the machine's other work
// counts less.
// Seconds the signal's second second takes (the quicker of two runs).
double signalSecondCost(const std::string& name) {
    double quickest = 1e9;
    for (int run = 0; run < 2; ++run) {
        Rig rig(name, kRate);
        const std::size_t second = framesOf(1.0, kRate);
        const Audio input = inputFor(rig.plugin(), second, kRate);
        rig.render(input, second, BlockPattern::fixed(kBlock));
        const auto start = std::chrono::steady_clock::now();
        rig.render(input, second, BlockPattern::fixed(kBlock));
        quickest = std::min(
            quickest, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return quickest;
}

Verdict denormals(const std::string& name, const CheckSettings&) {
    constexpr int kSeconds = 5;
    constexpr int kRuns = 3;
    const auto quickest = [&](double lead) {
        std::vector<double> a = secondsPerSecond(name, lead, kSeconds);
        for (int run = 1; run < kRuns; ++run) {
            const std::vector<double> b = secondsPerSecond(name, lead, kSeconds);
            for (std::size_t i = 0; i < a.size(); ++i) a[i] = std::min(a[i], b[i]);
        }
        return a;
    };
    const std::vector<double> tail = quickest(0.25);
    const std::vector<double> quiet = quickest(0.0);
    const double slowestTail = *std::max_element(tail.begin() + 1, tail.end());
    const double silence = *std::min_element(quiet.begin(), quiet.end());
    const double signal = signalSecondCost(name);
    const double ratio = slowestTail / std::max({silence, signal, 1e-6});
    char text[200];
    std::snprintf(text, sizeof text,
                  "a decaying tail takes %.2f ms per second of audio, silence %.2f ms, the signal "
                  "%.2f ms (%.1f times the more)",
                  slowestTail * 1e3, silence * 1e3, signal * 1e3, ratio);
    // Below a millisecond per second either is lost in the machine's noise.
    // Under 5 ms per second of audio (half a percent of real time) the
    // machine's other work can make up the difference.
    const double over = slowestTail - std::max(silence, signal);
    if (ratio > 4.0 && over > 5e-3) return fail(text);
    if (ratio > 2.0 && over > 5e-3) return warn(text);
    return pass(text);
}

// Renders the test signal through a fresh instance on a fresh thread, after
// prepare (parameters, state) has set it up; then, when again is given,
// once more after switching it off and on.
Audio freshRender(const std::string& name, const std::function<void(Plugin&)>& prepare,
                  BlockPattern pattern, Audio* again = nullptr) {
    Audio out;
    host::onFreshThread([&] {
        Rig rig(name, kRate);
        if (prepare) prepare(rig.plugin());
        rig.restart();
        const std::size_t frames = framesOf(1.0, kRate);
        const Audio input = inputFor(rig.plugin(), frames, kRate);
        out = rig.render(input, frames, pattern);
        if (again != nullptr) {
            rig.restart();
            *again = rig.render(input, frames, pattern);
        }
    });
    return out;
}

Verdict determinism(const std::string& name, const CheckSettings&) {
    // Kept open, so that the module stays loaded between the two instances
    // as it does in a host: a static they share then shows.
    const Rig keeper(name, kRate);
    Audio reset;
    const Audio first = freshRender(name, {}, BlockPattern::fixed(kBlock), &reset);
    const Audio second = freshRender(name, {}, BlockPattern::fixed(kBlock));
    if (auto where = firstNonFinite(first)) return fail(*where);
    if (!sameBits(first, second))
        return fail("two fresh instances differ by up to " + decibels(differenceDb(first, second)) +
                    "FS");
    if (!sameBits(first, reset))
        return warn("the same bits from fresh instances; after switching off and on it differs "
                    "by up to " + decibels(differenceDb(first, reset)) + "FS");
    return pass("the same bits from fresh instances and after switching off and on");
}

Verdict blockIndependence(const std::string& name, const CheckSettings&) {
    const Audio fixed = freshRender(name, {}, BlockPattern::fixed(kBlock));
    const Audio random = freshRender(name, {}, BlockPattern::random(kSeed));
    if (auto where = firstNonFinite(random)) return fail(*where);
    if (!sameBits(fixed, random))
        return warn("random blocks differ from blocks of 512 by up to " +
                    decibels(differenceDb(fixed, random)) + "FS");
    return pass("random blocks give the bits of blocks of 512");
}

Verdict parameterSweep(const std::string& name, const CheckSettings&) {
    Rig rig(name, kRate);
    Plugin& plugin = rig.plugin();
    const std::size_t frames = 2 * kBlock;
    const Audio input = inputFor(plugin, frames, kRate);
    int values = 0;
    for (int i = 0; i < plugin.parameterCount(); ++i) {
        const ParameterInfo info = plugin.parameterInfo(i);
        const float before = plugin.parameter(i);
        for (float value : sweepValues(info)) {
            plugin.setParameter(i, value);
            ++values;
            const Audio out = rig.render(input, frames, BlockPattern::fixed(kBlock));
            if (auto where = firstNonFinite(out))
                return fail("parameter " + std::to_string(i) + " (" + info.name + ") at " +
                            std::to_string(value) + ": " + *where);
        }
        plugin.setParameter(i, before);
    }
    return pass(std::to_string(plugin.parameterCount()) + " parameters at " +
                std::to_string(values) + " values: finite");
}

Verdict parameterFuzz(const std::string& name, const CheckSettings&) {
    Rig rig(name, kRate);
    Plugin& plugin = rig.plugin();
    if (plugin.parameterCount() == 0) return skip("no parameters");
    std::mt19937 draw(kSeed);
    const std::size_t frames = framesOf(10.0, kRate);
    const Audio input = inputFor(plugin, frames, kRate);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uniform_int_distribution<int> which(0, plugin.parameterCount() - 1);
    const Audio out = rig.render(input, frames, BlockPattern::random(kSeed), false,
                                 [&](std::int64_t, int) {
                                     for (int k = 0; k < 3; ++k) {
                                         const int i = which(draw);
                                         const ParameterInfo info = plugin.parameterInfo(i);
                                         plugin.setParameter(i, info.minimum + unit(draw) *
                                                                    (info.maximum - info.minimum));
                                     }
                                 });
    if (auto where = firstNonFinite(out)) return fail("random changes every block (seed 1): " + *where);
    return pass("10 s of random blocks with three parameters changed before each: finite");
}

// The state of an instance at settings, as bytes.
std::string stateAt(const std::string& name, const std::vector<float>& settings) {
    Rig rig(name, kRate);
    applySettings(rig.plugin(), settings);
    return rig.plugin().stateBytes();
}

// Differences below this are rounding (a parameter smoothed from another
// starting value), not a setting lost: they only warn.
constexpr double kRoundingDbfs = -120.0;

Verdict compareStates(const Audio& expected, const Audio& restored, const std::string& what) {
    if (auto where = firstNonFinite(restored)) return fail(*where);
    if (sameBits(expected, restored)) return pass(what + " renders the same bits");
    const double difference = differenceDb(expected, restored);
    const std::string text = what + " renders differently, by up to " + decibels(difference) + "FS";
    return difference < kRoundingDbfs ? warn(text) : fail(text);
}

Verdict stateRoundtrip(const std::string& name, const CheckSettings&) {
    std::vector<float> settings;
    {
        Rig probe(name, kRate);
        std::mt19937 draw(kSeed);
        settings = randomSettings(probe.plugin(), draw);
    }
    const std::string state = stateAt(name, settings);
    const Audio expected = freshRender(name, [&](Plugin& p) { applySettings(p, settings); },
                                       BlockPattern::fixed(kBlock));
    const Audio restored = freshRender(name, [&](Plugin& p) { p.setStateBytes(state); },
                                       BlockPattern::fixed(kBlock));
    return compareStates(expected, restored, "a state restored into a fresh instance");
}

Verdict stateStale(const std::string& name, const CheckSettings&) {
    std::vector<float> saved, other;
    {
        Rig probe(name, kRate);
        std::mt19937 draw(kSeed + 1);
        saved = randomSettings(probe.plugin(), draw);
        other = randomSettings(probe.plugin(), draw);
    }
    const std::string state = stateAt(name, saved);
    const Audio expected = freshRender(name, [&](Plugin& p) { applySettings(p, saved); },
                                       BlockPattern::fixed(kBlock));
    const Audio restored = freshRender(name,
                                       [&](Plugin& p) {
                                           applySettings(p, other);
                                           p.setStateBytes(state);
                                       },
                                       BlockPattern::fixed(kBlock));
    return compareStates(expected, restored, "a state restored over other settings");
}

// The share of an impulse response's energy in its peak: 1 for a pure
// delay, about 0.2 for a gentle low-pass, far less for a crossover's low
// band or a reverb, whose peak is no latency.
double peakShare(const std::vector<double>& impulse, int peak) {
    double energy = 0.0;
    for (double h : impulse) energy += h * h;
    if (energy <= 0.0 || peak < 0 || static_cast<std::size_t>(peak) >= impulse.size()) return 0.0;
    return impulse[static_cast<std::size_t>(peak)] * impulse[static_cast<std::size_t>(peak)] / energy;
}
constexpr double kImpulseLikeShare = 0.25;

// analyze's impulse measurement: where the impulse response peaks.
Verdict latency(const std::string& name, const CheckSettings&) {
    const analysis::PluginDevice device(name, {}, kRate);
    {
        Rig probe(name, kRate);
        if (probe.plugin().inputs() == 0 || probe.plugin().outputs() == 0)
            return skip("no audio input or output to measure through");
    }
    analysis::AnalysisPlan plan;
    plan.rate = kRate;
    plan.what = {analysis::Measurement::Impulse};
    const std::function<void(double)> progress;
    analysis::Renderer render(device, 1, progress);
    const analysis::ImpulseResult result = analysis::measureImpulse(device, plan, render);
    int furthest = 0;
    double smallestShare = 1.0;
    std::string measured;
    for (std::size_t c = 0; c < result.channels.size(); ++c) {
        const int frames = result.channels[c].latencyFrames;
        measured += (c ? ", " : "") + std::to_string(frames);
        furthest = std::max(furthest, std::abs(frames - result.reportedLatencyFrames));
        smallestShare = std::min(smallestShare, peakShare(result.channels[c].impulse, frames));
    }
    const std::string text = "reports " + std::to_string(result.reportedLatencyFrames) +
                             " frames, the impulse response peaks at " + measured;
    if (furthest <= 1) return pass(text);
    if (smallestShare < kImpulseLikeShare)
        return warn(text + ", but the response is spread out (a filter, reverb or echo?), so its "
                           "peak is no measure of latency");
    return fail(text);
}

Verdict realtimeSafety(const std::string& name, const CheckSettings&) {
    Rig rig(name, kRate, engine::ProcessMode::Realtime);
    Plugin& plugin = rig.plugin();
    const Audio input = inputFor(plugin, kBlock, kRate);
    Audio in = input, out = silence(plugin.outputs(), kBlock);
    std::vector<float*> inputs, outputs;
    for (auto& c : in) inputs.push_back(c.data());
    for (auto& c : out) outputs.push_back(c.data());
    // The first calls may set up what the plug-in could not before.
    for (int i = 0; i < 2; ++i) plugin.process(inputs.data(), outputs.data(), kBlock);
    RealtimeWatch watch;
    const std::vector<std::string> missing = watch.missing();
    if (missing.size() == 2) return skip("nothing can be watched: " + missing[0] + "; " + missing[1]);
    watch.take();
    std::mt19937 draw(kSeed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    constexpr int kCalls = 200;
    for (int call = 0; call < kCalls; ++call) {
        if (plugin.parameterCount() > 0 && call % 10 == 0) {
            const int i = call / 10 % plugin.parameterCount();
            const ParameterInfo info = plugin.parameterInfo(i);
            plugin.setParameter(i, info.minimum + unit(draw) * (info.maximum - info.minimum));
        }
        for (std::size_t c = 0; c < in.size(); ++c) std::copy(input[c].begin(), input[c].end(), in[c].begin());
        watch.enter();
        plugin.process(inputs.data(), outputs.data(), kBlock);
        watch.leave();
    }
    const WatchCounts counts = watch.take();
    std::string text = std::to_string(kCalls) + " process calls: " + counts.describe();
    if (!counts.clean()) return fail(text);
    if (!missing.empty()) return warn(text + "; not watched: " + missing[0]);
    return pass(text);
}

Verdict threads(const std::string& name, const CheckSettings&) {
    const std::size_t frames = framesOf(2.0, kRate);
    // Two instances, one input each, rendered by run: one after the other or
    // side by side.
    const auto renderPair = [&](bool together) {
        std::array<Audio, 2> out;
        std::barrier ready(together ? 2 : 1);
        std::array<std::exception_ptr, 2> failures;
        const auto work = [&](int which) {
            try {
                Rig rig(name, kRate);
                Audio input = inputFor(rig.plugin(), frames, kRate);
                if (which == 1)
                    for (auto& channel : input) std::reverse(channel.begin(), channel.end());
                ready.arrive_and_wait();
                out[static_cast<std::size_t>(which)] =
                    rig.render(input, frames, BlockPattern::fixed(64));
            } catch (...) {
                failures[static_cast<std::size_t>(which)] = std::current_exception();
            }
        };
        if (together) {
            std::thread a(work, 0), b(work, 1);
            a.join();
            b.join();
        } else {
            std::thread(work, 0).join();
            std::thread(work, 1).join();
        }
        for (const auto& failure : failures)
            if (failure) std::rethrow_exception(failure);
        return out;
    };
    const auto apart = renderPair(false);
    const auto together = renderPair(true);
    for (std::size_t i = 0; i < 2; ++i) {
        if (auto where = firstNonFinite(together[i])) return fail(*where);
        if (!sameBits(apart[i], together[i]))
            return fail("instance " + std::to_string(i + 1) +
                        " run beside another differs from it run alone, by up to " +
                        decibels(differenceDb(apart[i], together[i])) + "FS");
    }
    return pass("two instances side by side give the bits of each alone");
}

// A note on every channel in turn, let go on the last frame of a block: it
// must sound finite and then end.
Verdict instrumentNotes(const std::string& name, const CheckSettings& settings) {
    Rig rig(name, kRate);
    Plugin& plugin = rig.plugin();
    if (!plugin.isInstrument()) return skip("not an instrument");
    const std::size_t held = framesOf(0.25, kRate) / kBlock * kBlock;
    double loudest = -std::numeric_limits<double>::infinity();
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        const std::uint8_t key = static_cast<std::uint8_t>(48 + channel);
        const std::array<std::uint8_t, 3> on{static_cast<std::uint8_t>(0x90 | channel), key, 100};
        const std::array<std::uint8_t, 3> off{static_cast<std::uint8_t>(0x80 | channel), key, 0};
        const Audio quiet = silence(plugin.inputs(), held);
        const Audio out =
            rig.render(quiet, held, BlockPattern::fixed(kBlock), false, [&](std::int64_t at, int frames) {
                if (at == 0) {
                    const engine::MidiEvent event{0, 3, on.data()};
                    plugin.queueMidi({&event, 1});
                } else if (at + frames == static_cast<std::int64_t>(held)) {
                    const engine::MidiEvent event{frames - 1, 3, off.data()};
                    plugin.queueMidi({&event, 1});
                }
            });
        if (auto where = firstNonFinite(out))
            return fail("channel " + std::to_string(channel + 1) + ": " + *where);
        loudest = std::max(loudest, peakDbfs(out, 0, held));
        double peak = 0.0;
        std::optional<std::string> nonFinite;
        if (!decayTime(rig, settings.silenceDbfs, 5.0, peak, nonFinite))
            return fail("channel " + std::to_string(channel + 1) +
                        (nonFinite ? ": " + *nonFinite
                                   : ": still " + decibels(peak) +
                                         "FS 5 s after a note-off on the last frame of a block"));
    }
    if (loudest < settings.silenceDbfs) return warn("no sound from notes on any channel");
    return pass("notes on all 16 channels sound (peak " + decibels(loudest) +
                "FS) and end after a note-off on a block's last frame");
}

// Minutes of random blocks and parameter changes, for what shows only late.
Verdict soak(const std::string& name, const CheckSettings&) {
    Rig rig(name, kRate);
    Plugin& plugin = rig.plugin();
    std::mt19937 draw(kSeed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const std::size_t minute = framesOf(60.0, kRate);
    const Audio input = inputFor(plugin, minute, kRate);
    int blocks = 0;
    for (int m = 0; m < 3; ++m) {
        const Audio out = rig.render(input, minute, BlockPattern::random(kSeed + m), false,
                                     [&](std::int64_t, int) {
                                         if (plugin.parameterCount() == 0 || ++blocks % 50 != 0) return;
                                         const int i = static_cast<int>(draw() % static_cast<unsigned>(plugin.parameterCount()));
                                         const ParameterInfo info = plugin.parameterInfo(i);
                                         plugin.setParameter(i, info.minimum + unit(draw) * (info.maximum - info.minimum));
                                     });
        if (auto where = firstNonFinite(out))
            return fail("minute " + std::to_string(m + 1) + ": " + *where);
    }
    return pass("3 minutes of random blocks and parameter changes: finite");
}

using TestFunction = Verdict (*)(const std::string&, const CheckSettings&);

struct Entry {
    TestInfo info;
    TestFunction run;
};

const std::vector<Entry>& entries() {
    static const std::vector<Entry> all{
        {{"load", "opens, starts and stops at 48 kHz", "", false}, load},
        {{"metadata", "the VST 2.4 record or the LV2 description is consistent", "load", false}, metadata},
        {{"process-out-of-place", "finite output at blocks of 1, 7, 64, 512, 4096 and random", "load", false}, processOutOfPlace},
        {{"process-in-place", "the same with each output in its input's buffer", "process-out-of-place", false}, processInPlace},
        {{"process-rates", "finite output at 22.05, 44.1, 48, 96 and 192 kHz", "process-out-of-place", false}, processRates},
        {{"silence", "silence in gives output that is or decays below -80 dBFS", "process-out-of-place", false}, silenceTest},
        {{"denormals", "a decaying tail costs no more time than silence", "process-out-of-place", false}, denormals},
        {{"determinism", "fresh instances on fresh threads give the same bits", "process-out-of-place", false}, determinism},
        {{"block-independence", "random blocks give the bits of blocks of 512 (else warns)", "process-out-of-place", false}, blockIndependence},
        {{"param-sweep", "every parameter over its range: finite output", "process-out-of-place", false}, parameterSweep},
        {{"param-fuzz", "random parameter changes every block: finite output", "process-out-of-place", false}, parameterFuzz},
        {{"param-text", "parameter display texts valid UTF-8 within their buffers", "load", false}, parameterText},
        {{"state-roundtrip", "a state restored into a fresh instance renders the same", "process-out-of-place", false}, stateRoundtrip},
        {{"state-stale", "a state restored over other settings renders the same", "process-out-of-place", false}, stateStale},
        {{"latency", "the reported latency is where the impulse response peaks", "process-out-of-place", false}, latency},
        {{"realtime-safety", "no allocation, lock or system call inside process", "process-out-of-place", false}, realtimeSafety},
        {{"threads", "instances side by side give the bits of each alone", "process-out-of-place", false}, threads},
        {{"instrument-notes", "notes on every channel sound, finite, and end", "process-out-of-place", false}, instrumentNotes},
        {{"soak", "three minutes of random blocks and parameter changes", "process-out-of-place", true}, soak},
    };
    return all;
}

}  // namespace

const char* statusName(Status status) {
    switch (status) {
        case Status::Pass: return "pass";
        case Status::Fail: return "fail";
        case Status::Warn: return "warn";
        case Status::Skip: return "skip";
    }
    return "fail";
}

std::optional<Status> statusNamed(const std::string& name) {
    for (Status s : {Status::Pass, Status::Fail, Status::Warn, Status::Skip})
        if (name == statusName(s)) return s;
    return std::nullopt;
}

const std::vector<TestInfo>& checkTests() {
    static const std::vector<TestInfo> infos = [] {
        std::vector<TestInfo> list;
        for (const Entry& e : entries()) list.push_back(e.info);
        return list;
    }();
    return infos;
}

const TestInfo* findTest(const std::string& name) {
    for (const TestInfo& info : checkTests())
        if (info.name == name) return &info;
    return nullptr;
}

Outcome runTest(const std::string& test, const std::string& plugin, const CheckSettings& settings) {
    Outcome outcome;
    outcome.name = test;
    const auto start = std::chrono::steady_clock::now();
    const auto entry = std::find_if(entries().begin(), entries().end(),
                                    [&](const Entry& e) { return e.info.name == test; });
    if (entry == entries().end()) {
        outcome.status = Status::Fail;
        outcome.detail = "no such test";
        return outcome;
    }
    try {
        const Verdict verdict = entry->run(plugin, settings);
        outcome.status = verdict.status;
        outcome.detail = verdict.detail;
    } catch (const std::exception& error) {
        outcome.status = Status::Fail;
        outcome.detail = error.what();
    }
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return outcome;
}

}  // namespace varkel::check
