// The engine's failures as Python exceptions, with the engine's own message:
// a missing file is FileNotFoundError, a request that cannot be met as given
// ValueError, any other failure RuntimeError. Nothing else escapes to Python.
#pragma once

#include <pybind11/pybind11.h>

namespace varkel::python {

void registerErrorTranslation();

}  // namespace varkel::python
