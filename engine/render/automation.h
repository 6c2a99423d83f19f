// Parameter automation: --automate NAME=TIME:VALUE[,TIME:VALUE...] as a
// schedule of parameter changes at exact frames. A point sets its value at
// frame round(time × rate) and it holds until the next point; with ramps the
// value moves linearly between points in steps on a grid of kRampStepFrames
// frames counted from the first point. The render splits its blocks at these
// frames, so the result does not depend on the block size.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace varkel::engine {

inline constexpr std::int64_t kRampStepFrames = 32;

struct AutomationPoint {
    double seconds = 0.0;
    float value = 0.0f;  // in the parameter's own units (VST 2.4: 0 to 1)
};

struct AutomationLane {
    std::string parameter;  // a name or an index, as for --set
    std::vector<AutomationPoint> points;
};

// Times past this no frame count holds at a rate a sound file can have
// (2^62 frames at 2^31 Hz), about 68 years.
inline constexpr double kLongestAutomationSeconds = 2147483648.0;

// Parses NAME=TIME:VALUE[,TIME:VALUE...]; TIME is seconds, with an optional
// "s" or "ms". Times must not go back nor lie past kLongestAutomationSeconds.
// Throws UsageError starting with the text.
AutomationLane parseAutomation(const std::string& text);

class AutomationSchedule {
public:
    struct FramePoint {
        std::int64_t frame = 0;
        float value = 0.0f;
    };
    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

    AutomationSchedule() = default;
    // One lane per parameter index; points in order of time, counted from
    // firstFrame (a stream that is already under way starts a schedule there).
    void addLane(int parameter, const std::vector<AutomationPoint>& points, double sampleRate,
                 std::int64_t firstFrame = 0);
    void setRamp(bool on) { ramp = on; }

    // The frame of the next change, or kNever.
    std::int64_t nextFrame() const;

    // Calls set(parameter, value) for every change due at frame (which must
    // not be past nextFrame()) and moves past them.
    template <typename Set>
    void applyAt(std::int64_t frame, Set&& set) {
        for (Lane& lane : lanes) {
            float value = 0.0f;
            if (lane.advance(frame, ramp, value)) set(lane.parameter, value);
        }
    }

private:
    struct Lane {
        int parameter = 0;
        std::vector<FramePoint> points;
        std::size_t nextPoint = 0;  // the first point not yet applied
        std::int64_t nextStep = kNever;

        std::int64_t nextFrame(bool ramp) const;
        // The value to set at frame, when this lane changes there.
        bool advance(std::int64_t frame, bool ramp, float& value);
    };

    std::vector<Lane> lanes;
    bool ramp = false;
};

}  // namespace varkel::engine
