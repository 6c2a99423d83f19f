#include "python/src/error_translation.h"

#include <exception>
#include <new>
#include <stdexcept>

#include "engine/engine_error.h"

namespace varkel::python {

void registerErrorTranslation() {
    pybind11::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const pybind11::error_already_set&) {
            throw;
        } catch (const pybind11::builtin_exception&) {
            throw;
        } catch (const engine::FileNotFound& error) {
            PyErr_SetString(PyExc_FileNotFoundError, error.what());
        } catch (const engine::UsageError& error) {
            PyErr_SetString(PyExc_ValueError, error.what());
        } catch (const std::bad_alloc&) {
            PyErr_SetString(PyExc_MemoryError, "out of memory");
        } catch (const std::exception& error) {
            PyErr_SetString(PyExc_RuntimeError, error.what());
        } catch (...) {
            PyErr_SetString(PyExc_RuntimeError, "unknown failure in the Varkel engine");
        }
    });
}

}  // namespace varkel::python
