// The op-amp stage processor: one flat state record for a stereo instance and
// three plain functions over it.
#pragma once

// The three functions are exported from the plug-in module under these names.
#if defined(_WIN32)
#define VARKEL_DSP_EXPORT __declspec(dllexport)
#else
#define VARKEL_DSP_EXPORT __attribute__((visibility("default")))
#endif

struct VarkelState {
    float cutOff;        // LPCutOff, normalised; corner at 12000 * cutOff Hz
    float slewPrev[2];   // last slew-limiter output
    float lowState[2];   // 100 Hz low-pass state
    float bandState[2];  // bandwidth low-pass state
    float dcPrevIn[2];   // DC blocker, previous input
    float dcPrevOut[2];  // DC blocker, previous output
    float preGain;       // PreGain, normalised; linear gain = preGain * 3.98107 (+12 dB at 1)
    float postGain;      // PostGain, normalised, same scale
    int rateHz;
    float maxSlew;       // 20000 full-scale units per second, per sample
    float samplePeriod;  // seconds
};

extern "C" {
VARKEL_DSP_EXPORT VarkelState* Varkel_new(int rate);
VARKEL_DSP_EXPORT float Varkel_process(int channel, VarkelState* state, float input);
VARKEL_DSP_EXPORT void Varkel_delete(VarkelState* state);
}
