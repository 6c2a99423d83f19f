// The extension module behind the varkel package. The package's Python layer
// gives it its documented interface; this module only crosses the boundary.
#include <pybind11/pybind11.h>

#include "python/src/bindings.h"
#include "python/src/keyword_wording.h"
#include "python/src/error_translation.h"

PYBIND11_MODULE(_varkel, module) {
    module.doc() = "Varkel's engine for Python; use the varkel package, not this module.";
    varkel::python::registerErrorTranslation();
    varkel::engine::setFieldWording(varkel::python::keywordWording);
    module.def("use_wording", &varkel::python::useWording, pybind11::arg("face"));
    module.def("wording_in_use", &varkel::python::wordingInUse);
    varkel::python::bindInstance(module);
    varkel::python::bindSoundFiles(module);
    varkel::python::bindSoundFileStreams(module);
    varkel::python::bindRender(module);
    varkel::python::bindAnalysis(module);
    varkel::python::bindBatch(module);
    varkel::python::bindLoudness(module);
    varkel::python::bindMidi(module);
}
