// Varkel: the op-amp gain stage as a stereo VST 2.4 effect.
#pragma once

#include "dsp/op_amp_chain.h"
#include "dsp/parameter_table.h"
#include "dsp/varkel.h"
#include "framework/audio_effect_x.h"

class Varkel : public AudioEffectX {
public:
    enum Parameter : VstInt32 {
        kPreGain = varkel::kPreGainIndex,
        kLpCutOff = varkel::kLpCutOffIndex,
        kPostGain = varkel::kPostGainIndex,
        kNumParameters = varkel::kParameterCount
    };

    // The processor is made in the constructor; a Varkel whose processor
    // could not be made must not be used (see isReady).
    explicit Varkel(audioMasterCallback audioMaster);
    ~Varkel() override;

    bool isReady() const { return processor != nullptr; }

    // --- processing ---
    void resume() override;
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    void processDoubleReplacing(double** inputs, double** outputs, VstInt32 sampleFrames) override;

    // --- parameters ---
    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;

    // --- program ---
    void setProgramName(char* name) override;
    void getProgramName(char* name) override;

    // --- parameter texts ---
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;

    // --- information ---
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    VstInt32 getVendorVersion() override;

    // --- sample rate ---
    // The processor's corners and slew limit are tied to its rate, so a new
    // host rate re-tunes it and restarts its filters; the base still records
    // what the host said.
    void setSampleRate(float newRate) override;
    double updateSampleRate() override;
    void __setBlockSizeAndSampleRateDeprecated(VstInt32 newBlockSize, float newSampleRate) override;

private:
    void retuneProcessor(float rate);

    VarkelState* processor;
    // Used only by the process calls, which the host does not overlap.
    varkel::ChainCoefficients coefficients;
    char programName[kVstMaxProgNameLen + 1];
};
