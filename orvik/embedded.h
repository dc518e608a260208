// A C++ value living in an object of a heap type: the object is allocated
// with PyObject_Malloc and PyObject_Init, the value is constructed in place at
// once, and tp_dealloc destroys it and frees the memory with PyObject_Free.
// Not tp_alloc, which zero-fills storage the value then overwrites, and whose
// slot lookups per object showed in a list of 10,000 CapInfo objects. Shared
// by the value classes and Client, whose types have no other allocator.
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
  void* memory = PyObject_Malloc(sizeof(EmbeddedObject<Value>));
  if (memory == nullptr) {
    PyErr_NoMemory();
    return {};
  }
  // PyObject_Init sets the type (taking a reference to it, a heap type) and
  // the first reference; it cannot fail on memory it is given. The value is
  // in place before anything could release the object.
  PyObject* object = PyObject_Init(static_cast<PyObject*>(memory), type);
  new (reinterpret_cast<EmbeddedObject<Value>*>(object)->storage) Value(std::forward<Args>(args)...);
  return PyRef::steal(object);
}

template <typename Value>
void dealloc_embedded(PyObject* self) {
  // Instances of a heap type hold a reference to their type.
  PyTypeObject* type = Py_TYPE(self);
  embedded<Value>(self).~Value();
  PyObject_Free(self);
  Py_DECREF(type);
}

}  // namespace orvik
