// A deliberately plain model of the op-amp stage, written straight from the
// chain's description: every coefficient derived at every sample, the maths
// library called for every noise sample, each random number drawn on its own.
// Tests compare the shipped processor against it; the benchmark uses it as
// the baseline.
#pragma once

#include <cmath>
#include <cstdint>

namespace plain {

// The same generator as the processor's, kept separately: 0..32767.
struct Lcg {
    std::uint32_t state = 1;
    int next() {
        state = state * 214013u + 2531011u;
        return static_cast<int>((state >> 16) & 0x7FFF);
    }
};

struct Model {
    explicit Model(int rate)
        : rateHz(rate),
          maxSlew(20000.0f / static_cast<float>(rate)),
          samplePeriod(1.0f / static_cast<float>(rate)) {}

    float preGain = 0.25118864f;
    float cutOff = 1.0f;
    float postGain = 0.25118864f;
    int rateHz;
    float maxSlew;
    float samplePeriod;
    float low[2] = {0, 0}, band[2] = {0, 0}, slew[2] = {0, 0}, dcIn[2] = {0, 0}, dcOut[2] = {0, 0};

    float process(int channel, float x, Lcg& rng) {
        const int ch = channel == 0 ? 0 : 1;
        const float gIn = static_cast<float>(static_cast<double>(preGain) * 3.9810719240874812);
        const float gOut = static_cast<float>(static_cast<double>(postGain) * 3.9810719240874812);
        float a = x * gIn;

        float k1 = 628.3185f * samplePeriod;
        float l = (a - low[ch]) * k1 + low[ch];
        low[ch] = l;
        float s = a + l;

        float p = 24000.0f * cutOff;
        float rc = static_cast<float>(0.3183098861837907 / static_cast<double>(p));
        float k2 = samplePeriod / rc;
        float b = (s - band[ch]) * k2 + band[ch];
        band[ch] = b;

        float b2 = b * b;
        float b3 = b2 * b;
        float n = 10.0f * b3 + b * 105.0f;
        float d = b * b3 + (b2 * 45.0f + 105.0f);
        float c = (-n) / d;

        float t = 0.001f * preGain;
        float e = std::fabs(c) - t;
        float w;
        if (e < 0.0f) {
            float q = static_cast<float>(static_cast<double>(std::fabs(0.4f * t)) + 0.0001);
            w = (0.4f * e) * (e / q + 1.0f);
        } else {
            w = e;
        }
        if (c < 0.0f) w = -w;

        w = w < 0.7414f ? w : 0.7414f;
        w = w > -0.7414f ? w : -0.7414f;

        float u;
        do {
            u = static_cast<float>(rng.next()) * 3.0518509e-05f;
        } while (u == 0.0f);
        float theta = static_cast<float>(rng.next()) * 0.00019175345f;
        float cosine = static_cast<float>(std::cos(static_cast<double>(theta)));
        double m = std::sqrt(-2.0 * std::log(static_cast<double>(u)));
        float z = static_cast<float>(static_cast<double>(cosine) * m);
        float v = z * (0.0001f * preGain) + w;

        float delta = v - slew[ch];
        float o;
        if (delta < -maxSlew)
            o = slew[ch] - maxSlew;
        else
            o = slew[ch] + (delta < maxSlew ? delta : maxSlew);
        slew[ch] = o;

        float R = 1.0f - 190.0f / static_cast<float>(rateHz);
        float y = (R * dcOut[ch] - dcIn[ch]) + o;
        dcIn[ch] = o;
        dcOut[ch] = y;
        return y * gOut;
    }
};

}  // namespace plain
