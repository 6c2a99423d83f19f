// The number-to-text formatters of AudioEffect: worked examples, the choices
// for values outside the field, the buffer contract, and a property sweep
// over many floats and ints checked against an exact model of truncation.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "framework/audio_effect.h"

namespace {

class PlainEffect : public AudioEffect {
public:
    PlainEffect() : AudioEffect(nullptr, 1, 1) {}
    void processReplacing(float**, float**, VstInt32) override {}
};

// Remembers what reaches float2string and reports its own sample rate, so
// the converters can be seen to go through the virtual operations.
class RecordingEffect : public PlainEffect {
public:
    float getSampleRate() override { return 48000.0f; }
    void float2string(float value, char* text, VstInt32 maxLen) override {
        seenValue = value;
        seenMaxLen = maxLen;
        *text = 0;
    }
    float seenValue = -1.0f;
    VstInt32 seenMaxLen = -1;
};

constexpr unsigned char kGuard = 0xA5;
using Buffer = std::array<unsigned char, 24>;
using Formatter = std::function<void(char*, VstInt32)>;

Buffer run(const Formatter& format, VstInt32 maxLen) {
    Buffer buffer;
    buffer.fill(kGuard);
    format(reinterpret_cast<char*>(buffer.data()), maxLen);
    return buffer;
}

// The text as C string (stops at the first NUL or at the buffer's end).
std::string textOf(const Buffer& buffer) {
    std::string text;
    for (unsigned char c : buffer) {
        if (c == 0) break;
        text.push_back(static_cast<char>(c));
    }
    return text;
}

// The output contract: the first maxLen characters of the full text, NUL up
// to and including text[maxLen], untouched beyond.
::testing::AssertionResult writtenAs(const Buffer& buffer, const std::string& fullText,
                                     VstInt32 maxLen) {
    const std::size_t limit = static_cast<std::size_t>(maxLen);
    const std::string shown = fullText.substr(0, limit);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        int expected = kGuard;
        if (i < shown.size())
            expected = static_cast<unsigned char>(shown[i]);
        else if (i <= limit)
            expected = 0;
        if (buffer[i] != expected)
            return ::testing::AssertionFailure()
                   << "byte " << i << " is " << int(buffer[i]) << ", expected " << expected
                   << " (text \"" << fullText << "\", maxLen " << maxLen << ")";
    }
    return ::testing::AssertionSuccess();
}

struct FloatCase {
    float value;
    VstInt32 maxLen;
    const char* text;
};

template <std::size_t N>
void expectFloatTexts(const FloatCase (&cases)[N]) {
    PlainEffect fx;
    for (const FloatCase& c : cases) {
        SCOPED_TRACE(c.value);
        const Buffer out =
            run([&](char* t, VstInt32 n) { fx.float2string(c.value, t, n); }, c.maxLen);
        EXPECT_TRUE(writtenAs(out, c.text, c.maxLen));
    }
}

// --- float2string ---------------------------------------------------------

TEST(Float2String, FormatsTheFixedWidthField) {
    const FloatCase cases[] = {
        {0.0f, 8, "0.000000"},        {-0.0f, 8, "0.000000"},
        {1.5f, 8, "1.500000"},        {-0.25f, 8, "-0.25000"},
        {123456.7f, 8, "123456.7"},   {1234567.0f, 8, "1234567."},
        {-123456.0f, 8, "-123456."},  {100.0f, 8, "100.0000"},
        {3.14159265f, 8, "3.141592"}, {1.5f, 4, "1.50"},
        {-12.5f, 4, "-12."},          {123456.7f, 4, "1234"},
        {9999999.0f, 8, "9999999."},  {-999999.0f, 8, "-999999."},
        {0.1f, 8, "0.100000"},        {99.99f, 8, "99.98999"},  // stored as 99.98999786...
        {0.99999994f, 8, "0.999999"},                           // just below 1: cut, not rounded up
        {-0.0000001f, 8, "-0.00000"}, {1e-45f, 8, "0.000000"},  // smallest denormal
    };
    expectFloatTexts(cases);
}

TEST(Float2String, ValuesOutsideTheFieldGetFixedTexts) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const FloatCase cases[] = {
        {-inf, 8, "-oo"},
        {inf, 8, "Huge!"},
        {std::numeric_limits<float>::max(), 8, "Huge!"},
        {100000000.0f, 8, "Huge!"},  // the first float above 99999999
        {inf, 4, "Huge"},
        {-10000000.0f, 8, "-Huge!"},
        {-std::numeric_limits<float>::max(), 8, "-Huge!"},
        {-10000000.0f, 4, "-Hug"},
        {nan, 8, "NaN"},
        {-nan, 8, "NaN"},
        {nan, 2, "Na"},
    };
    expectFloatTexts(cases);
}

TEST(Float2String, WideIntegerPartsShowTheirLeadingDigits) {
    const FloatCase cases[] = {
        {10000000.0f, 8, "10000000"}, {12345678.0f, 8, "12345678"},
        {99999992.0f, 8, "99999992"},  // the largest float not above 99999999
        {12345678.0f, 5, "12345"},    {-9999999.0f, 8, "-9999999"},
        {-1000000.0f, 8, "-1000000"}, {-1234567.0f, 4, "-123"},
    };
    expectFloatTexts(cases);
}

// --- int2string -----------------------------------------------------------

TEST(Int2String, FormatsPlainDecimals) {
    struct Case {
        VstInt32 value;
        VstInt32 maxLen;
        const char* text;
    };
    const Case cases[] = {
        {12000, 8, "12000"},
        {12000, 4, "1200"},
        {-5, 8, "-5"},
        {-123456789, 8, "-1234567"},
        {100000000, 8, "Huge!"},
        {100000000, 4, "Huge"},
        {99999999, 8, "99999999"},
        {0, 8, "0"},
        {7, 1, "7"},
        {-999999999, 8, "-9999999"},
        {-1000000000, 8, "-Huge!"},
        {std::numeric_limits<VstInt32>::min(), 8, "-Huge!"},
        {std::numeric_limits<VstInt32>::min(), 3, "-Hu"},
        {std::numeric_limits<VstInt32>::max(), 8, "Huge!"},
        {1000000, 8, "1000000"},  // inner zeros are kept
    };
    PlainEffect fx;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const Buffer out =
            run([&](char* t, VstInt32 n) { fx.int2string(c.value, t, n); }, c.maxLen);
        EXPECT_TRUE(writtenAs(out, c.text, c.maxLen));
    }
}

// --- dB2string, Hz2string, ms2string ----------------------------------------

TEST(Converters, FormatAtTheDefaultRate) {
    struct Case {
        void (AudioEffect::*format)(float, char*, VstInt32);
        float value;
        const char* text;
    };
    const Case cases[] = {
        {&AudioEffect::dB2string, 1.0f, "0.000000"},
        {&AudioEffect::dB2string, 0.2511886f, "-12.0000"},
        {&AudioEffect::dB2string, 0.5f, "-6.02060"},
        {&AudioEffect::dB2string, 0.1f, "-20.0000"},
        {&AudioEffect::dB2string, 0.0f, "-oo"},
        {&AudioEffect::dB2string, -1.0f, "-oo"},
        {&AudioEffect::dB2string, std::numeric_limits<float>::denorm_min(), "-897.069"},
        {&AudioEffect::Hz2string, 100.0f, "441.0000"},
        {&AudioEffect::Hz2string, 0.0f, "0.000000"},
        {&AudioEffect::ms2string, 441.0f, "10.00000"},
        {&AudioEffect::ms2string, 44100.0f, "1000.000"},
    };
    PlainEffect fx;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const Buffer out = run([&](char* t, VstInt32 n) { (fx.*c.format)(c.value, t, n); }, 8);
        EXPECT_TRUE(writtenAs(out, c.text, 8));
    }
}

TEST(Converters, GoThroughTheOverriddenRateAndFormatter) {
    RecordingEffect fx;
    char text[9];
    fx.dB2string(0.1f, text, 6);
    EXPECT_EQ(fx.seenValue, -20.0f);
    EXPECT_EQ(fx.seenMaxLen, 6);
    fx.Hz2string(480.0f, text, 5);
    EXPECT_EQ(fx.seenValue, 100.0f);
    EXPECT_EQ(fx.seenMaxLen, 5);
    fx.ms2string(96.0f, text, 7);
    EXPECT_EQ(fx.seenValue, 2.0f);
    EXPECT_EQ(fx.seenMaxLen, 7);
}

// --- the buffer contract ----------------------------------------------------

std::vector<std::pair<const char*, Formatter>> allFormatters(PlainEffect& fx, float f, VstInt32 i) {
    return {
        {"float2string", [&fx, f](char* t, VstInt32 n) { fx.float2string(f, t, n); }},
        {"int2string", [&fx, i](char* t, VstInt32 n) { fx.int2string(i, t, n); }},
        {"dB2string", [&fx, f](char* t, VstInt32 n) { fx.dB2string(f, t, n); }},
        {"Hz2string", [&fx, f](char* t, VstInt32 n) { fx.Hz2string(f, t, n); }},
        {"ms2string", [&fx, f](char* t, VstInt32 n) { fx.ms2string(f, t, n); }},
    };
}

TEST(OutputRule, MaxLenZeroWritesOneNul) {
    PlainEffect fx;
    for (auto& [name, format] : allFormatters(fx, 123.25f, 4567)) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(writtenAs(run(format, 0), "", 0));
    }
}

TEST(OutputRule, ShortTextsArePaddedWithNulThroughTextMaxLen) {
    PlainEffect fx;
    const Buffer i = run([&](char* t, VstInt32 n) { fx.int2string(42, t, n); }, 12);
    EXPECT_TRUE(writtenAs(i, "42", 12));
    const Buffer f = run([&](char* t, VstInt32 n) { fx.float2string(-1.0f, t, n); }, 15);
    EXPECT_TRUE(writtenAs(f, "-1.00000", 15));
    const Buffer d = run([&](char* t, VstInt32 n) { fx.dB2string(0.0f, t, n); }, 10);
    EXPECT_TRUE(writtenAs(d, "-oo", 10));
}

// --- property sweep -----------------------------------------------------------

// floor(|x| * 10^fractionDigits), computed exactly from the float's bits.
std::uint64_t truncatedScaled(float x, int fractionDigits) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(x);
    const int biased = static_cast<int>((bits >> 23) & 0xFF);
    std::uint64_t mantissa = bits & 0x7FFFFF;
    int exponent = -149;  // denormal: mantissa * 2^-149
    if (biased != 0) {
        mantissa |= 0x800000;
        exponent = biased - 150;
    }
    std::uint64_t scale = 1;
    for (int k = 0; k < fractionDigits; ++k) scale *= 10;
    if (exponent >= 0) return (mantissa << exponent) * scale;  // only reached below 1e8
    const std::uint64_t numerator = mantissa * scale;          // < 2^24 * 10^7
    return -exponent >= 64 ? 0 : numerator >> -exponent;
}

// The full text float2string must build for x, from an independent model:
// fixed texts outside the range, otherwise sign, integer digits, point and
// the fraction digits that fit 8 characters, all truncated.
std::string expectedFloatText(float x) {
    if (std::isnan(x)) return "NaN";
    if (std::isinf(x) && x < 0) return "-oo";
    if (static_cast<double>(x) > 99999999.0) return "Huge!";
    if (x < -9999999.0f) return "-Huge!";
    const std::string sign = x < 0 ? "-" : "";
    const std::string integer = std::to_string(truncatedScaled(x, 0));
    const int head = static_cast<int>(sign.size() + integer.size()) + 1;
    const int fractionDigits = head < 8 ? 8 - head : 0;
    if (fractionDigits == 0) return sign + integer + ".";
    std::uint64_t scale = 1;
    for (int k = 0; k < fractionDigits; ++k) scale *= 10;
    const std::uint64_t fractionValue = truncatedScaled(x, fractionDigits) % scale;
    std::string fraction = std::to_string(fractionValue);
    fraction.insert(0, static_cast<std::size_t>(fractionDigits) - fraction.size(), '0');
    return sign + integer + "." + fraction;
}

bool outsideTheField(float x) {
    return std::isnan(x) || static_cast<double>(x) > 99999999.0 || x < -9999999.0f;
}

// Reads back a shown number exactly and checks it is x truncated to the
// digits shown: shown <= |x| < shown + one unit of the last digit.
::testing::AssertionResult showsTruncation(const std::string& text, float x) {
    std::size_t pos = text[0] == '-' ? 1 : 0;
    if ((pos == 1) != (x < 0)) return ::testing::AssertionFailure() << "sign of " << text;
    std::uint64_t digits = 0;
    int fractionDigits = -1;
    for (; pos < text.size(); ++pos) {
        if (text[pos] == '.') {
            if (fractionDigits >= 0) return ::testing::AssertionFailure() << "two points: " << text;
            fractionDigits = 0;
            continue;
        }
        if (text[pos] < '0' || text[pos] > '9') return ::testing::AssertionFailure() << text;
        digits = digits * 10 + static_cast<std::uint64_t>(text[pos] - '0');
        if (fractionDigits >= 0) ++fractionDigits;
    }
    if (fractionDigits < 0) return ::testing::AssertionFailure() << "no point: " << text;
    if (digits != truncatedScaled(x, fractionDigits))
        return ::testing::AssertionFailure() << text << " is not " << x << " truncated";
    return ::testing::AssertionSuccess();
}

std::vector<float> sweepFloats() {
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> values = {
        0.0f,
        -0.0f,
        inf,
        -inf,
        std::numeric_limits<float>::quiet_NaN(),
        -std::numeric_limits<float>::quiet_NaN(),
        std::numeric_limits<float>::signaling_NaN(),
        std::numeric_limits<float>::denorm_min(),
        -std::numeric_limits<float>::denorm_min(),
        std::bit_cast<float>(0x007FFFFFu),
        std::numeric_limits<float>::min(),
        std::numeric_limits<float>::max(),
        -std::numeric_limits<float>::max(),
        9999999.0f,
        10000000.0f,
        99999992.0f,
        100000000.0f,
        -9999999.0f,
        -9999998.0f,
        -10000000.0f,
        -999999.0f,
        -1000000.0f,
        0.99999994f,
        -0.99999994f,
        9.9999995f,
        999999.94f,
        -99999.99f,
        0.1f,
        99.99f,
    };
    for (float p = 1e-8f; p < 2e8f; p *= 10.0f)
        for (float v : {p, std::nextafter(p, 0.0f), std::nextafter(p, inf)}) {
            values.push_back(v);
            values.push_back(-v);
        }
    std::mt19937 random(20240611u);
    for (int i = 0; i < 60000; ++i)
        values.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(random())));
    // Most random bit patterns are far outside the field; also sweep inside it.
    std::uniform_real_distribution<double> logMagnitude(-9.0, 8.2);
    for (int i = 0; i < 60000; ++i) {
        const float v = static_cast<float>(std::pow(10.0, logMagnitude(random)));
        values.push_back(i % 2 == 0 ? v : -v);
    }
    return values;
}

std::vector<VstInt32> sweepInts() {
    std::vector<VstInt32> values = {
        0,
        1,
        -1,
        9,
        10,
        -10,
        99999999,
        100000000,
        -99999999,
        -999999999,
        -1000000000,
        std::numeric_limits<VstInt32>::min(),
        std::numeric_limits<VstInt32>::max(),
    };
    for (VstInt32 p = 1; p <= 100000000; p *= 10)
        for (VstInt32 v : {p, p - 1, p + 1, -p, -p + 1, -p - 1}) values.push_back(v);
    std::mt19937 random(77u);
    for (int i = 0; i < 40000; ++i) values.push_back(static_cast<VstInt32>(random()));
    std::uniform_int_distribution<VstInt32> inRange(-999999999, 99999999);
    for (int i = 0; i < 40000; ++i) values.push_back(inRange(random));
    return values;
}

// Nothing past text[maxLen] written, text[maxLen] at the latest terminates.
::testing::AssertionResult staysInBounds(const Buffer& out, VstInt32 maxLen) {
    for (std::size_t i = static_cast<std::size_t>(maxLen) + 1; i < out.size(); ++i)
        if (out[i] != kGuard) return ::testing::AssertionFailure() << "wrote byte " << i;
    if (out[static_cast<std::size_t>(maxLen)] != 0)
        return ::testing::AssertionFailure() << "text[" << maxLen << "] is not NUL";
    return ::testing::AssertionSuccess();
}

TEST(FormatterProperties, Float2StringShowsTheInputTruncated) {
    PlainEffect fx;
    for (float x : sweepFloats()) {
        const std::string expected = expectedFloatText(x);
        const Buffer full = run([&](char* t, VstInt32 n) { fx.float2string(x, t, n); }, 12);
        if (!outsideTheField(x)) {
            ASSERT_TRUE(showsTruncation(textOf(full), x)) << std::bit_cast<std::uint32_t>(x);
        }
        for (VstInt32 maxLen = 0; maxLen <= 8; ++maxLen) {
            const Buffer out = run([&](char* t, VstInt32 n) { fx.float2string(x, t, n); }, maxLen);
            ASSERT_TRUE(writtenAs(out, expected, maxLen)) << std::bit_cast<std::uint32_t>(x);
        }
    }
}

TEST(FormatterProperties, Int2StringMatchesPlainDecimals) {
    PlainEffect fx;
    for (VstInt32 v : sweepInts()) {
        std::string expected = std::to_string(v);
        if (v > 99999999) expected = "Huge!";
        if (v < -999999999) expected = "-Huge!";
        for (VstInt32 maxLen = 0; maxLen <= 8; ++maxLen) {
            const Buffer out = run([&](char* t, VstInt32 n) { fx.int2string(v, t, n); }, maxLen);
            ASSERT_TRUE(writtenAs(out, expected, maxLen)) << v;
        }
    }
}

TEST(FormatterProperties, ConvertersStayInBoundsAndTerminate) {
    PlainEffect fx;
    const std::vector<float> values = sweepFloats();
    for (std::size_t i = 0; i < values.size(); i += 3) {
        const float x = values[i];
        for (auto& [name, format] : allFormatters(fx, x, 0)) {
            if (std::string(name) == "int2string") continue;
            for (VstInt32 maxLen = 0; maxLen <= 8; ++maxLen)
                ASSERT_TRUE(staysInBounds(run(format, maxLen), maxLen)) << name << " " << x;
        }
    }
}

}  // namespace
