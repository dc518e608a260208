// PyRef: one owned reference to a Python object.
#pragma once

#ifndef Py_LIMITED_API
#error "orvik is built on the limited API of CPython 3.9"
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace orvik {

// Owns exactly one strong reference (or none) and releases it on scope exit,
// so that every early return of a function that builds Python objects
// accounts for what it built.
class PyRef {
 public:
  PyRef() = default;
  // Takes over a new reference; a null pointer (a failed call) is allowed and
  // simply owns nothing.
  static PyRef steal(PyObject* object) { return PyRef(object); }
  // Adds a reference of our own to a borrowed one.
  static PyRef borrow(PyObject* object) {
    Py_XINCREF(object);
    return PyRef(object);
  }

  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      PyObject* old = std::exchange(object_, std::exchange(other.object_, nullptr));
      Py_XDECREF(old);
    }
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

  // Hands the reference to the caller, who now owns it.
  [[nodiscard]] PyObject* release_new_ref() { return std::exchange(object_, nullptr); }

 private:
  explicit PyRef(PyObject* object) : object_(object) {}
  PyObject* object_ = nullptr;
};

}  // namespace orvik
