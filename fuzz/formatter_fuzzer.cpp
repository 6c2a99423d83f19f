// Feeds the five number-to-text formatters arbitrary values, sample rates and
// lengths 0..8. The text buffer holds exactly maxLen + 1 bytes between guard
// bytes; each call must leave the guards alone, fill the buffer with its text
// followed by NUL bytes through text[maxLen], and use only the characters
// numbers and the fixed texts are made of.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "framework/audio_effect.h"
#include "fuzz/input_reader.h"

namespace {

[[noreturn]] void fail(const char* what, int formatter, const char* text) {
    std::fprintf(stderr, "formatter_fuzzer: %s (formatter %d, text \"%s\")\n", what, formatter, text);
    std::abort();
}

// The formatters are operations of the base class; this is the least object
// that has them.
class Formatters : public AudioEffect {
public:
    Formatters() : AudioEffect(nullptr, 1, 0) {}
    void processReplacing(float**, float**, VstInt32) override {}
};

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kSpecialFloats[] = {
    0.0f, -0.0f, 1.0f, -1.0f, 0.1f, 0.5f, 99.99f, -0.25f, 123456.7f, 1234567.0f, -123456.0f,
    9999999.0f, 9999999.5f, 10000000.0f, 99999999.0f, 100000000.0f, -999999.0f, -1000000.0f,
    -9999999.0f, -9999999.5f, -10000000.0f, std::numeric_limits<float>::quiet_NaN(), kInf,
    -kInf, std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::denorm_min(),
    std::numeric_limits<float>::min(), std::numeric_limits<float>::max(),
    -std::numeric_limits<float>::max(), 1e-30f, 44100.0f, 0.2511886f, 2147483648.0f};
constexpr std::int32_t kSpecialInts[] = {0,         1,         -1,        12000,     -5,
                                         99999999,  100000000, -9999999,  -10000000, -99999999,
                                         -999999999, -1000000000, std::numeric_limits<std::int32_t>::max(),
                                         std::numeric_limits<std::int32_t>::min()};

constexpr std::size_t kGuard = 32;
constexpr unsigned char kGuardByte = 0xCD;
constexpr int kMaxLen = 8;

// The digits, the sign, the point, and the fixed texts "Huge!", "-oo" and "NaN".
bool allowedCharacter(char c) {
    return (c >= '0' && c <= '9') || std::strchr("-.Huge!oNa", c) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Formatters formatters;
    InputReader in(data, size);
    for (int calls = 0; calls < 256 && !in.empty(); ++calls) {
        const int formatter = in.byte() % 5;
        const VstInt32 maxLen = in.byte() % (kMaxLen + 1);
        const float rate = in.pick(kSpecialFloats);
        formatters.setSampleRate(rate);
        float value = 0.0f;
        std::int32_t integer = 0;
        if (formatter == 1)
            integer = in.pick(kSpecialInts);
        else
            value = in.pick(kSpecialFloats);

        unsigned char buffer[kGuard + kMaxLen + 1 + kGuard];
        std::memset(buffer, kGuardByte, sizeof buffer);
        char* text = reinterpret_cast<char*>(buffer + kGuard);
        switch (formatter) {
            case 0: formatters.float2string(value, text, maxLen); break;
            case 1: formatters.int2string(integer, text, maxLen); break;
            case 2: formatters.dB2string(value, text, maxLen); break;
            case 3: formatters.Hz2string(value, text, maxLen); break;
            default: formatters.ms2string(value, text, maxLen); break;
        }

        const std::size_t end = kGuard + static_cast<std::size_t>(maxLen) + 1;
        for (std::size_t i = 0; i < kGuard; ++i)
            if (buffer[i] != kGuardByte) fail("wrote before the buffer", formatter, "");
        for (std::size_t i = end; i < sizeof buffer; ++i)
            if (buffer[i] != kGuardByte) fail("wrote past text[maxLen]", formatter, "");
        if (text[maxLen] != 0) fail("text[maxLen] is not NUL", formatter, "");
        const std::size_t length = std::strlen(text);
        for (std::size_t i = length; i <= static_cast<std::size_t>(maxLen); ++i)
            if (text[i] != 0) fail("not NUL-padded through text[maxLen]", formatter, text);
        for (std::size_t i = 0; i < length; ++i)
            if (!allowedCharacter(text[i])) fail("unexpected character", formatter, text);

        // Full-width texts read back as the number they show.
        if (maxLen == kMaxLen && formatter == 0 && value >= -999999.0f && value < 10000000.0f) {
            if (length != 8) fail("float text is not 8 characters", formatter, text);
            // Fraction digits are truncated, so the text is at most one unit
            // of its last digit nearer to zero than the value.
            const char* point = std::strchr(text, '.');
            if (point == nullptr) fail("float text has no point", formatter, text);
            const int fractionDigits = static_cast<int>(text + length - point - 1);
            const double shown = std::strtod(text, nullptr);
            const double v = static_cast<double>(value);
            const double unit = std::pow(10.0, -fractionDigits);
            if (std::fabs(shown) > std::fabs(v) || std::fabs(v) - std::fabs(shown) >= unit * 1.000001)
                fail("float text does not show the value", formatter, text);
        }
        if (maxLen == kMaxLen && formatter == 1 && integer >= -9999999 && integer <= 99999999) {
            if (std::strtol(text, nullptr, 10) != integer || length == 0)
                fail("integer text does not show the value", formatter, text);
        }
    }
    return 0;
}
