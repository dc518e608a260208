// C++ values to new Python objects.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pyref.h"

namespace orvik {

// The library hands out UTF-8 that its decoder has already validated; a
// string that is not would fail here with UnicodeDecodeError rather than be
// altered silently.
inline PyRef new_str(std::string_view utf8) {
  return PyRef::steal(
      PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), nullptr));
}

inline PyRef new_int(std::uint64_t value) {
  return PyRef::steal(PyLong_FromUnsignedLongLong(value));
}

inline PyRef new_bool(bool value) { return PyRef::steal(PyBool_FromLong(value ? 1 : 0)); }

// A list of exactly `size` slots, filled by `item(i)` in order. On any
// failure the half-filled list is released with everything already in it.
template <typename MakeItem>
PyRef new_list(std::size_t size, MakeItem&& item) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(size)));
  if (!list) return {};
  for (std::size_t i = 0; i < size; ++i) {
    PyRef element = item(i);
    if (!element) return {};
    // PyList_SetItem takes over the element's reference.
    if (PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), element.release_new_ref()) < 0) {
      return {};
    }
  }
  return list;
}

inline PyRef new_str_list(const std::vector<std::string>& strings) {
  return new_list(strings.size(), [&](std::size_t i) { return new_str(strings[i]); });
}

}  // namespace orvik
