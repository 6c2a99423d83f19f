// Parameter names, units and value texts as a host reads them: through the
// loaded module's dispatcher, into the host's own buffer, byte by byte.
#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <memory>
#include <string>

#include "loaded_module.h"

namespace {

using varkel::host::PluginInstance;

constexpr unsigned char kUntouched = 0x5A;
using HostBuffer = std::array<unsigned char, 16>;

class ParameterTexts : public ::testing::Test {
protected:
    void SetUp() override {
        fx = loaded::makeInstance();
        ASSERT_TRUE(fx);
    }

    HostBuffer ask(VstInt32 opcode, VstInt32 index) const {
        HostBuffer buffer;
        buffer.fill(kUntouched);
        EXPECT_EQ(fx->dispatch(opcode, index, 0, buffer.data()), 0);
        return buffer;
    }

    std::unique_ptr<PluginInstance> fx;
};

// The bytes a host must find: text, NUL through position `end`, then its
// own bytes as it left them.
::testing::AssertionResult holds(const HostBuffer& buffer, const std::string& text,
                                 std::size_t end) {
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        int expected = kUntouched;
        if (i < text.size())
            expected = static_cast<unsigned char>(text[i]);
        else if (i <= end)
            expected = 0;
        if (buffer[i] != expected)
            return ::testing::AssertionFailure()
                   << "byte " << i << " is " << int(buffer[i]) << ", expected " << expected
                   << " for \"" << text << "\"";
    }
    return ::testing::AssertionSuccess();
}

TEST_F(ParameterTexts, NamesAndLabelsFillTheNineByteField) {
    struct Case {
        VstInt32 index;
        const char* name;
        const char* label;
    };
    const Case cases[] = {{0, "PreGain", "dB"}, {1, "LPCutOff", "Hz"}, {2, "PostGain", "dB"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        EXPECT_TRUE(holds(ask(effGetParamName, c.index), c.name, 8));
        EXPECT_TRUE(holds(ask(effGetParamLabel, c.index), c.label, 8));
    }
}

TEST_F(ParameterTexts, DisplayShowsDecibelsAndHertz) {
    // Gains pass 4 characters to the formatter (NUL at byte 4), the cut-off 8.
    struct Case {
        float value;
        const char* gain;
        const char* cutOff;
    };
    const Case cases[] = {
        {1.0f, "12.0", "12000"},
        {0.75f, "9.50", "9000"},
        {0.5f, "5.97", "6000"},  // 5.9794...: cut, not rounded
        {0.25118864f, "-0.0", "3014"},
        {0.2f, "-1.9", "2400"},
        {0.1f, "-8.0", "1200"},
        {0.01f, "-28.", "120"},
        {0.0f, "-oo", "0"},
        {0.00005f, "-74.", "0"},  // a corner below 1 Hz still shows a number
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        for (VstInt32 gain : {0, 2}) {
            fx->setParameter(gain, c.value);
            EXPECT_TRUE(holds(ask(effGetParamDisplay, gain), c.gain, 4)) << "gain " << gain;
        }
        fx->setParameter(1, c.value);
        EXPECT_TRUE(holds(ask(effGetParamDisplay, 1), c.cutOff, 8));
    }
}

TEST_F(ParameterTexts, DefaultGainShowsNegativeZero) {
    // The default's decibel value is a tiny negative number.
    EXPECT_TRUE(holds(ask(effGetParamDisplay, 0), "-0.0", 4));
    EXPECT_TRUE(holds(ask(effGetParamDisplay, 2), "-0.0", 4));
}

TEST_F(ParameterTexts, CutOffsBeyondTheFieldShowFixedTexts) {
    fx->setParameter(1, 10000.0f);  // 120000000 Hz
    EXPECT_TRUE(holds(ask(effGetParamDisplay, 1), "Huge!", 8));
    fx->setParameter(1, 1e30f);
    EXPECT_TRUE(holds(ask(effGetParamDisplay, 1), "Huge!", 8));
    fx->setParameter(1, -1e30f);
    EXPECT_TRUE(holds(ask(effGetParamDisplay, 1), "-Huge!", 8));
    fx->setParameter(1, -0.5f);
    EXPECT_TRUE(holds(ask(effGetParamDisplay, 1), "-6000", 8));
}

TEST_F(ParameterTexts, OtherIndicesLeaveTheHostBufferAlone) {
    const HostBuffer untouched = [] {
        HostBuffer b;
        b.fill(kUntouched);
        return b;
    }();
    for (VstInt32 opcode : {effGetParamName, effGetParamLabel, effGetParamDisplay})
        for (VstInt32 index : {-1, 3, 4, 1000, std::numeric_limits<VstInt32>::max(),
                               std::numeric_limits<VstInt32>::min()}) {
            EXPECT_EQ(ask(opcode, index), untouched) << "opcode " << opcode << " index " << index;
        }
}

}  // namespace
