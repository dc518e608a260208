// A C++ value living in an object of a heap type: the interpreter allocates
// the memory (zero-filled, via tp_alloc), the value is constructed in place
// once it exists and destroyed in tp_dealloc. Shared by the value classes and
// Client.
#pragma once

#include <new>
#include <utility>

#include "pyref.h"

namespace orvik {

template <typename Value>
struct EmbeddedObject {
  PyObject ob_base;
  alignas(Value) unsigned char storage[sizeof(Value)];
};

template <typename Value>
Value& embedded(PyObject* self) {
  return *std::launder(reinterpret_cast<Value*>(reinterpret_cast<EmbeddedObject<Value>*>(self)->storage));
}

// A new object of `type` holding a Value built from `args` (callers move
// records in); empty with an exception set if the type or the memory is
// missing, in which case nothing was built from `args`.
template <typename Value, typename... Args>
PyRef new_embedded(PyTypeObject* type, Args&&... args) {
  if (type == nullptr) return {};
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyRef object = PyRef::steal(alloc(type, 0));
  if (!object) return {};
  new (reinterpret_cast<EmbeddedObject<Value>*>(object.get())->storage) Value(std::forward<Args>(args)...);
  return object;
}

template <typename Value>
void dealloc_embedded(PyObject* self) {
  // Instances of a heap type hold a reference to their type.
  PyTypeObject* type = Py_TYPE(self);
  embedded<Value>(self).~Value();
  auto free_memory = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_memory(self);
  Py_DECREF(type);
}

}  // namespace orvik
