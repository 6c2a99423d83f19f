// The plug-in's audio path, a file of its own: the fuzz build traces
// comparisons everywhere but in this per-sample code, where they would only
// slow each input down.
#include "dsp/stereo_block.h"
#include "plugin/varkel_plugin.h"

void Varkel::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    varkel::processStereoBlock(*processor, coefficients, inputs, outputs, sampleFrames);
}

void Varkel::processDoubleReplacing(double** inputs, double** outputs, VstInt32 sampleFrames) {
    varkel::processStereoBlock(*processor, coefficients, inputs, outputs, sampleFrames);
}
