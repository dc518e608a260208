// PyInit_orvik: the module `orvik`, its version and its four classes.
#include <atomic>
#include <cstdint>

#include "client_type.h"
#include "pyref.h"
#include "value_classes.h"

namespace orvik {
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "orvik",
    "`orvik` Python module.",
    0,        // no per-module state
    nullptr,  // no module-level functions
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The module and its types are process-wide objects, so only the interpreter
// that first imported us may use them.
std::atomic<std::int64_t> first_interpreter_id{-1};

// Owned; set only once the module is complete. A single-phase module can be
// initialised again (after removal from sys.modules); it then gets the same
// object.
PyObject* module_object = nullptr;

// Appends `name` to the module's __all__ (creating the list on the first
// addition), then binds `value` under `name`.
bool add_to_module(PyObject* module, const char* name, PyObject* value) {
  if (value == nullptr) return false;
  PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  }
  PyRef name_object = PyRef::steal(PyUnicode_FromString(name));
  if (!name_object || PyList_Append(all.get(), name_object.get()) < 0) return false;
  return PyObject_SetAttrString(module, name, value) == 0;
}

bool add_type(PyObject* module, const char* name, PyTypeObject* type) {
  return add_to_module(module, name, reinterpret_cast<PyObject*>(type));
}

PyObject* new_module() {
  const std::int64_t interpreter_id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (interpreter_id < 0) return nullptr;
  std::int64_t expected = -1;
  if (!first_interpreter_id.compare_exchange_strong(expected, interpreter_id) &&
      expected != interpreter_id) {
    PyErr_SetString(PyExc_ImportError, "the orvik module does not support sub-interpreters");
    return nullptr;
  }
  if (module_object != nullptr) return PyRef::borrow(module_object).release_new_ref();

  // One failure path: anything that fails drops the half-built module.
  PyRef module = PyRef::steal(PyModule_Create(&module_definition));
  PyRef version = PyRef::steal(PyUnicode_FromString(ORVIK_VERSION));
  if (!module || !add_to_module(module.get(), "__version__", version.get()) ||
      !add_type(module.get(), "Client", client_type()) ||
      !add_type(module.get(), "CapInfo", cap_info_type()) ||
      !add_type(module.get(), "SessionInfo", session_info_type()) ||
      !add_type(module.get(), "AuthMethod", auth_method_type())) {
    return nullptr;
  }
  module_object = PyRef::borrow(module.get()).release_new_ref();
  return module.release_new_ref();
}

}  // namespace
}  // namespace orvik

PyMODINIT_FUNC PyInit_orvik() { return orvik::new_module(); }
