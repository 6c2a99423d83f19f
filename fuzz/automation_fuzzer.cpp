// --automate texts through the parser to the schedule of parameter changes
// over a fixed length, with and without ramps. The first byte picks the rate
// and ramps; the rest is the text. A lane the parser takes must pass its own
// check, and its changes must come at rising frames with values between the
// lane's lowest and highest point.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/engine_error.h"
#include "engine/render/automation.h"
#include "engine/render/render_request.h"

namespace {

using namespace varkel::engine;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "automation_fuzzer: %s\n", what);
    std::abort();
}

constexpr double kRates[] = {44100.0, 48000.0, 8000.0, 192000.0, 1.0, 2147483648.0, 22050.5, 96000.0};
constexpr std::int64_t kLength = 1 << 16;  // frames rendered

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const double rate = kRates[data[0] & 7];
    const bool ramp = (data[0] & 8) != 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    AutomationLane lane;
    try {
        lane = parseAutomation(text);
    } catch (const UsageError&) {
        return 0;
    }
    try {
        checkAutomationLane(lane);
    } catch (const UsageError&) {
        fail("a lane the parser took fails its own check");
    }
    float lowest = lane.points[0].value, highest = lowest;
    for (const AutomationPoint& p : lane.points) {
        lowest = std::min(lowest, p.value);
        highest = std::max(highest, p.value);
    }

    AutomationSchedule schedule;
    schedule.setRamp(ramp);
    try {
        schedule.addLane(3, lane.points, rate);
    } catch (const UsageError&) {
        return 0;  // beyond any frame count at this rate
    }
    std::int64_t previous = -1;
    for (std::int64_t frame = schedule.nextFrame(); frame < kLength; frame = schedule.nextFrame()) {
        if (frame <= previous) fail("a change at a frame that does not rise");
        previous = frame;
        schedule.applyAt(frame, [&](int parameter, float value) {
            if (parameter != 3) fail("a change to another parameter");
            if (!(value >= lowest && value <= highest)) fail("a value outside the lane's points");
        });
    }
    return 0;
}
