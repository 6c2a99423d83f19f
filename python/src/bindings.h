// The parts of the extension module, each adding its functions and classes.
#pragma once

#include <pybind11/pybind11.h>

namespace varkel::python {

void bindInstance(pybind11::module_& module);
void bindSoundFiles(pybind11::module_& module);
void bindSoundFileStreams(pybind11::module_& module);
void bindRender(pybind11::module_& module);
void bindAnalysis(pybind11::module_& module);
void bindBatch(pybind11::module_& module);
void bindLoudness(pybind11::module_& module);
void bindMidi(pybind11::module_& module);

}  // namespace varkel::python
