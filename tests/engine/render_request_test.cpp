// A render request's own limits, each refused with the field it is about, in
// the words of the face in use, whichever face made the request.
#include "engine/render/render_request.h"

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <functional>

namespace varkel::engine {
namespace {

struct Refusal {
    const char* what;
    std::function<void()> check;
    RequestField field;
    const char* says;
};

TEST(RenderRequest, EachRefusalNamesItsField) {
    using F = RequestField;
    const auto lane = [](std::vector<AutomationPoint> points) {
        return [points] { checkAutomationLane({"PreGain", points}); };
    };
    const Refusal refusals[] = {
        {"no frames", [] { checkBlockFrames(0); }, F::Block, "must be 1 to 65536 frames"},
        {"a block too long", [] { checkBlockFrames(65537); }, F::Block, "must be 1 to 65536"},
        {"a negative tail", [] { checkTailSeconds(-0.5); }, F::Tail, "must be 0 to 3600 s"},
        {"a tail of NaN", [] { checkTailSeconds(NAN); }, F::Tail, "must be 0 to 3600 s"},
        {"an hour and more", [] { checkTailSeconds(3600.5); }, F::Tail, "must be 0 to 3600 s"},
        {"16 bits", [] { precisionOfBits(16); }, F::Precision, "must be 32 or 64"},
        {"a format no render writes", [] { sampleFormatNamed("pcm8"); }, F::Format,
         "must be float, pcm24 or pcm16"},
        {"no points", lane({}), F::Automation, "needs at least one point"},
        {"a time before 0", lane({{-1.0, 0.5f}}), F::Automation, "is not from 0 to"},
        {"a time past any file", lane({{1e15, 0.5f}}), F::Automation, "is not from 0 to"},
        {"times going back", lane({{2.0, 0.5f}, {1.0, 0.5f}}), F::Automation,
         "must not go back"},
        {"a value of NaN", lane({{0.0, NAN}}), F::Automation, "must be numbers"},
        {"a rate of 0", [] { checkRenderRate(0); }, F::SampleRate, "must be 1000 to 768000 Hz"},
        {"a rate past 768 kHz", [] { checkRenderRate(768001); }, F::SampleRate, "768000 Hz"},
        {"a loudness above 0", [] { checkLoudnessTarget(0.5); }, F::Loudness,
         "must be -70 to 0 LUFS"},
        {"a loudness below the gate", [] { checkLoudnessTarget(-70.5); }, F::Loudness,
         "must be -70 to 0 LUFS"},
        {"a loudness of NaN", [] { checkLoudnessTarget(NAN); }, F::Loudness, "-70 to 0 LUFS"},
        {"a true peak of NaN", [] { checkTruePeakCeiling(NAN); }, F::TruePeakMax,
         "must be -70 to 6 dBTP"},
        {"a true peak far over", [] { checkTruePeakCeiling(6.5); }, F::TruePeakMax, "6 dBTP"},
    };
    // A face's own words for the fields, as the command line and Python have.
    setFieldWording([](RequestField field, const std::string& given) {
        return "<" + optionName(field) + (given.empty() ? "" : " " + given) + ">";
    });
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.what);
        try {
            r.check();
            ADD_FAILURE() << "accepted";
        } catch (const RequestError& error) {
            EXPECT_EQ(error.field(), r.field);
            const std::string message = error.what();
            EXPECT_EQ(message.rfind("<" + optionName(r.field), 0), 0u) << message;
            EXPECT_NE(message.find(r.says), std::string::npos) << message;
        }
    }
    setFieldWording(plainWording);

    // What each takes.
    EXPECT_NO_THROW(checkBlockFrames(1));
    EXPECT_NO_THROW(checkBlockFrames(65536));
    EXPECT_NO_THROW(checkTailSeconds(0.0));
    EXPECT_NO_THROW(checkRenderRate(1000));
    EXPECT_NO_THROW(checkRenderRate(768000));
    EXPECT_NO_THROW(checkLoudnessTarget(-70.0));
    EXPECT_NO_THROW(checkLoudnessTarget(0.0));
    EXPECT_NO_THROW(checkTruePeakCeiling(-1.0));
    EXPECT_EQ(precisionOfBits(64), Precision::Double);
    EXPECT_EQ(sampleFormatNamed(""), SampleFormat::SameAsInput);
    EXPECT_EQ(sampleFormatNamed("pcm24"), SampleFormat::Pcm24);
    EXPECT_NO_THROW(checkAutomationLane({"PreGain", {{0.0, 20000.0f}, {0.0, -3.0f}, {5.0, 1.0f}}}));
}

// The options every face makes its flags or keywords from: each named once,
// with limits where it has any, and each request field reachable by name.
TEST(RenderRequest, OptionsAreDeclaredOnceWithTheirLimits) {
    std::vector<std::string> names;
    for (const RenderOptionField& field : renderOptionFields()) {
        EXPECT_FALSE(field.name.starts_with("-")) << field.name;
        EXPECT_EQ(std::count(names.begin(), names.end(), field.name), 0) << field.name;
        names.push_back(field.name);
        if (field.name == "block") {
            EXPECT_EQ(field.minimum, 1);
            EXPECT_EQ(field.maximum, kMaxBlockFrames);
            EXPECT_EQ(field.defaultValue, "512");
        }
        if (field.name == "format") {
            EXPECT_EQ(field.choices, sampleFormatNames());
        }
    }
    for (const RequestField field : {RequestField::Settings, RequestField::Automation,
                                     RequestField::Block, RequestField::Tail,
                                     RequestField::SideChain, RequestField::Format,
                                     RequestField::SampleRate, RequestField::Loudness,
                                     RequestField::TruePeakMax, RequestField::State,
                                     RequestField::Preset}) {
        const std::string option = optionName(field);
        EXPECT_NE(std::find(names.begin(), names.end(), option), names.end()) << option;
    }
}

}  // namespace
}  // namespace varkel::engine
