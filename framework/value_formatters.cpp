// Number-to-text formatters for parameter displays. Each builds its whole
// text, then writes at most maxLen characters of it and NUL bytes up to and
// including text[maxLen]; nothing beyond text[maxLen] is ever touched.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "framework/audio_effect.h"

namespace {

constexpr int kFieldWidth = 8;

void writeText(const char* full, char* text, VstInt32 maxLen) {
    if (maxLen < 0) return;
    const std::size_t limit = static_cast<std::size_t>(maxLen);
    const std::size_t length = std::min(std::strlen(full), limit);
    std::memcpy(text, full, length);
    std::memset(text + length, 0, limit - length + 1);
}

}  // namespace

// An 8-character fixed-width decimal: sign, integer digits, point, then as
// many fraction digits as fit, truncated rather than rounded.
void AudioEffect::float2string(float value, char* text, VstInt32 maxLen) {
    if (std::isnan(value)) return writeText("NaN", text, maxLen);
    if (std::isinf(value) && value < 0.0f) return writeText("-oo", text, maxLen);
    if (static_cast<double>(value) > 99999999.0) return writeText("Huge!", text, maxLen);
    if (value < -9999999.0f) return writeText("-Huge!", text, maxLen);

    const bool negative = value < 0.0f;
    const double v = std::fabs(static_cast<double>(value));

    char reversed[16];
    int count = 0;
    double x = std::floor(v);
    do {
        reversed[count++] = static_cast<char>('0' + static_cast<int>(std::fmod(x, 10.0)));
        x = x / 10.0;
    } while (x >= 1.0);

    char full[32];
    int c = 0;
    if (negative) full[c++] = '-';
    while (count > 0) full[c++] = reversed[--count];
    full[c++] = '.';

    // Integer parts too wide for the field keep all their digits; the output
    // rule then shows their leading characters.
    if (c < kFieldWidth) {
        const int n = kFieldWidth - c;
        double m = std::fmod(v, 1.0) * std::pow(10.0, n);
        for (int i = n - 1; i >= 0; --i) {
            full[c + i] = static_cast<char>('0' + static_cast<int>(std::fmod(m, 10.0)));
            m = m / 10.0;
        }
        c += n;
    }
    full[c] = 0;
    writeText(full, text, maxLen);
}

void AudioEffect::int2string(VstInt32 value, char* text, VstInt32 maxLen) {
    if (value > 99999999) return writeText("Huge!", text, maxLen);
    if (value < -999999999) return writeText("-Huge!", text, maxLen);
    if (value == 0) return writeText("0", text, maxLen);

    char full[16];
    int c = 0;
    VstInt32 magnitude = value;
    if (value < 0) {
        full[c++] = '-';
        magnitude = -value;
    }
    bool started = false;
    for (VstInt32 divisor = 100000000; divisor > 0; divisor /= 10) {
        const VstInt32 digit = magnitude / divisor;
        magnitude %= divisor;
        if (digit > 0) started = true;
        if (started) full[c++] = static_cast<char>('0' + digit);
    }
    full[c] = 0;
    writeText(full, text, maxLen);
}

void AudioEffect::dB2string(float value, char* text, VstInt32 maxLen) {
    if (value <= 0.0f) return writeText("-oo", text, maxLen);
    const float decibels = 20.0f * static_cast<float>(std::log10(static_cast<double>(value)));
    float2string(decibels, text, maxLen);
}

// A period in samples shown as the frequency it repeats at.
void AudioEffect::Hz2string(float samples, char* text, VstInt32 maxLen) {
    const float rate = getSampleRate();
    const float hertz = samples == 0.0f ? 0.0f : rate / samples;
    float2string(hertz, text, maxLen);
}

void AudioEffect::ms2string(float samples, char* text, VstInt32 maxLen) {
    const float rate = getSampleRate();
    const float ms =
        static_cast<float>(static_cast<double>(samples) * 1000.0 / static_cast<double>(rate));
    float2string(ms, text, maxLen);
}
