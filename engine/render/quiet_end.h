// Where an instrument's render ends when no tail length is given: once the
// sound has been below a level for long enough after the last event, so
// that a note's release is kept whole and the file stops soon after it.
// Frame by frame, so the end is the same however the output is cut.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace varkel::engine {

inline constexpr double kQuietLevelDbfs = -96.0;
inline constexpr double kQuietSeconds = 0.1;
inline constexpr double kLongestQuietTailSeconds = 30.0;

class QuietEnd {
public:
    // earliestEnd: the output frames the events need (the last one's frame
    // plus one); quietFrames: how long the output must stay below the level.
    QuietEnd(std::int64_t earliestEnd, std::int64_t quietFrames)
        : earliest(earliestEnd), needed(quietFrames) {}

    // Looks at interleaved frames that start at output frame firstFrame;
    // returns how many of them to keep (all of them while the end is not
    // reached). Once it returns fewer, the output ends there.
    template <typename Sample>
    std::size_t keep(const Sample* samples, std::size_t frames, int channels,
                     std::int64_t firstFrame) {
        const double level = std::pow(10.0, kQuietLevelDbfs / 20.0);
        for (std::size_t f = 0; f < frames; ++f) {
            bool quietFrame = true;
            for (int c = 0; c < channels && quietFrame; ++c)
                quietFrame = std::fabs(static_cast<double>(
                                 samples[f * static_cast<std::size_t>(channels) +
                                         static_cast<std::size_t>(c)])) < level;
            const std::int64_t end = firstFrame + static_cast<std::int64_t>(f) + 1;
            // Counted from the last event's frame: the silence before a
            // last note-on is no sign that its sound has ended.
            quiet = quietFrame && end >= earliest ? quiet + 1 : 0;
            if (end >= earliest && quiet >= needed) {
                reached = true;
                return f + 1;
            }
        }
        return frames;
    }
    bool ended() const { return reached; }
    // The fewest frames after the first outputFrames that could end the
    // output: one who hands over no more at a time sees the end fall on the
    // last frame handed, never before it.
    std::int64_t framesToPossibleEnd(std::int64_t outputFrames) const {
        return std::max<std::int64_t>({needed - quiet, earliest - 1 + needed - outputFrames, 1});
    }

private:
    std::int64_t earliest;
    std::int64_t needed;
    std::int64_t quiet = 0;
    bool reached = false;
};

}  // namespace varkel::engine
