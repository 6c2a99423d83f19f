// Automation: the text of --automate, and the parameter changes it makes at
// which frames, worked out by hand.
#include "engine/render/automation.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "engine/engine_error.h"

namespace varkel::engine {
namespace {

TEST(AutomationText, PointsWithTimesInSecondsOrMilliseconds) {
    const AutomationLane lane = parseAutomation("PreGain=0:0.5,1.5:1,2s:0,2500ms:0.25");
    EXPECT_EQ(lane.parameter, "PreGain");
    const std::vector<std::pair<double, float>> expected = {
        {0.0, 0.5f}, {1.5, 1.0f}, {2.0, 0.0f}, {2.5, 0.25f}};
    ASSERT_EQ(lane.points.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_DOUBLE_EQ(lane.points[i].seconds, expected[i].first);
        EXPECT_EQ(lane.points[i].value, expected[i].second);
    }
    EXPECT_EQ(parseAutomation("Out Level=1:0").parameter, "Out Level");
    // Values in the parameter's own units: its range is checked against it.
    EXPECT_EQ(parseAutomation("freq=0:20000").points[0].value, 20000.0f);
}

TEST(AutomationText, MistakesAreUsageErrors) {
    for (const char* text :
         {"PreGain", "=1:0", "PreGain=", "PreGain=1", "PreGain=1:", "PreGain=x:0.5",
          "PreGain=-1:0.5", "PreGain=1:inf", "PreGain=2:0,1:1", "PreGain=1:nan",
          "PreGain=infs:0", "PreGain=1:0,,2:1", "PreGain=1ms2:0", "PreGain=1e15:0",
          "PreGain=0:1,2147483649:0"}) {
        SCOPED_TRACE(text);
        try {
            parseAutomation(text);
            ADD_FAILURE() << "accepted";
        } catch (const RequestError& error) {
            // Well formed, but not a lane any file could take: named by its parameter.
            EXPECT_EQ(error.field(), RequestField::Automation);
            EXPECT_EQ(std::string(error.what()).find("automation PreGain: "), 0u) << error.what();
        } catch (const UsageError& error) {
            EXPECT_EQ(std::string(error.what()).find(text), 0u) << error.what();
        }
    }
}

using Change = std::tuple<std::int64_t, int, float>;  // frame, parameter, value

std::vector<Change> allChanges(AutomationSchedule& schedule) {
    std::vector<Change> changes;
    for (std::int64_t frame = schedule.nextFrame(); frame != AutomationSchedule::kNever;
         frame = schedule.nextFrame())
        schedule.applyAt(frame, [&](int parameter, float value) {
            changes.emplace_back(frame, parameter, value);
        });
    return changes;
}

TEST(AutomationSchedule, HeldPointsLandOnTheRoundedFrame) {
    AutomationSchedule schedule;
    // 0.0001 s at 44100 Hz is 4.41 frames: frame 4. 0.5 s is 22050 exactly.
    schedule.addLane(1, {{0.0001, 0.25f}, {0.5, 0.75f}}, 44100.0);
    schedule.addLane(0, {{0.00003, 1.0f}}, 48000.0 /* 1.44 frames: 1 */);
    const std::vector<Change> expected = {{1, 0, 1.0f}, {4, 1, 0.25f}, {22050, 1, 0.75f}};
    EXPECT_EQ(allChanges(schedule), expected);
    // Given as numbers (as from Python), a time no frame count holds is refused, not frame 0.
    EXPECT_THROW(schedule.addLane(2, {{1e15, 0.5f}}, 44100.0), UsageError);
}

TEST(AutomationSchedule, TimesBetweenFramesGoToTheNearest) {
    const struct {
        double seconds, rate;
        std::int64_t frame;
    } cases[] = {
        {0.0001, 48000.0, 5},         // 4.8
        {0.0019, 44100.0, 84},        // 83.79
        {0.00001, 44100.0, 0},        // 0.441
        {0.0175, 100.0, 2},           // 1.75
        {0.0125, 100.0, 1},           // 1.25
        {1.99999, 1000.0, 2000},      // 1999.99
        {10.00001, 96000.0, 960001},  // 960000.96
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.seconds << " s at " << c.rate << " Hz");
        AutomationSchedule schedule;
        schedule.addLane(0, {{c.seconds, 0.5f}}, c.rate);
        EXPECT_EQ(schedule.nextFrame(), c.frame);
    }
}

TEST(AutomationSchedule, PointsOnOneFrameLeaveTheLastValue) {
    AutomationSchedule schedule;
    schedule.addLane(0, {{0.0, 0.1f}, {0.0, 0.9f}, {1.0, 0.3f}}, 100.0);
    const std::vector<Change> expected = {{0, 0, 0.9f}, {100, 0, 0.3f}};
    EXPECT_EQ(allChanges(schedule), expected);
}

TEST(AutomationSchedule, RampsStepEvery32FramesFromTheFirstPoint) {
    AutomationSchedule schedule;
    schedule.setRamp(true);
    // Points at frames 10, 90 and 100 (rate 1000): steps at 42 and 74 on the
    // grid 10 + 32k, none past the last point.
    schedule.addLane(2, {{0.010, 0.0f}, {0.090, 0.8f}, {0.100, 0.4f}}, 1000.0);
    const std::vector<Change> expected = {
        {10, 2, 0.0f},  {42, 2, 0.32f},  // 0.8 * 32/80
        {74, 2, 0.64f},                  // 0.8 * 64/80
        {90, 2, 0.8f},  {100, 2, 0.4f},  // 106 would be the next step, past the segment
    };
    const std::vector<Change> changes = allChanges(schedule);
    ASSERT_EQ(changes.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(std::get<0>(changes[i]), std::get<0>(expected[i]));
        EXPECT_FLOAT_EQ(std::get<2>(changes[i]), std::get<2>(expected[i]));
    }
}

TEST(AutomationSchedule, RampGridStaysOnTheFirstPointAcrossSegments) {
    AutomationSchedule schedule;
    schedule.setRamp(true);
    // Points at 0, 40, 100: steps at 32 in the first segment, then 64 and 96.
    schedule.addLane(0, {{0.0, 1.0f}, {0.040, 0.0f}, {0.100, 0.6f}}, 1000.0);
    std::vector<std::int64_t> frames;
    for (const Change& change : allChanges(schedule)) frames.push_back(std::get<0>(change));
    EXPECT_EQ(frames, (std::vector<std::int64_t>{0, 32, 40, 64, 96, 100}));
}

TEST(AutomationSchedule, NothingScheduledMeansNever) {
    AutomationSchedule schedule;
    schedule.addLane(0, {}, 44100.0);
    EXPECT_EQ(schedule.nextFrame(), AutomationSchedule::kNever);
}

}  // namespace
}  // namespace varkel::engine
