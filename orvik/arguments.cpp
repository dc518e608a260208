// Argument binding and conversion, with the exact texts of their TypeErrors.
#include "arguments.h"

#include <climits>
#include <string>
#include <vector>

namespace orvik {
namespace {

void set_type_error(const std::string& text) {
  PyErr_SetString(PyExc_TypeError, text.c_str());
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string quoted_name_list(std::span<const char* const> names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) {
      if (names.size() > 2) text += ",";
      text += i + 1 == names.size() ? " and " : " ";
    }
    text += "'";
    text += names[i];
    text += "'";
  }
  return text;
}

void set_too_many_positional(const Signature& signature, Py_ssize_t given) {
  std::string text = signature.qualified_name;
  const std::size_t n = signature.positional.size();
  if (signature.required == n) {
    text += " takes " + std::to_string(n);
  } else {
    text += " takes from " + std::to_string(signature.required) + " to " + std::to_string(n);
  }
  text += " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") +
          " given";
  set_type_error(text);
}

void set_missing(const Signature& signature, std::span<const char* const> missing) {
  std::string text = signature.qualified_name;
  text += " missing " + std::to_string(missing.size()) +
          (missing.size() == 1 ? " required positional argument: "
                               : " required positional arguments: ");
  text += quoted_name_list(missing);
  set_type_error(text);
}

// Keyword names are str (the interpreter refuses anything else before we
// are called); %U keeps a non-ASCII name intact, %S is only a fallback.
void set_keyword_error(const Signature& signature, const char* message, PyObject* key) {
  PyErr_Format(PyExc_TypeError, PyUnicode_Check(key) ? "%s %s '%U'" : "%s %s '%S'",
               signature.qualified_name, message, key);
}

std::optional<std::size_t> parameter_index(const Signature& signature, PyObject* key) {
  if (!PyUnicode_Check(key)) return std::nullopt;
  for (std::size_t i = 0; i < signature.parameter_count(); ++i) {
    if (PyUnicode_CompareWithASCIIString(key, signature.parameter_name(i)) == 0) return i;
  }
  return std::nullopt;
}

// A TypeError raised while converting `parameter` is replaced by one whose
// text starts with "argument '<parameter>': " and which carries the
// original's cause. Any other error (OverflowError, a RuntimeError from
// re-entry, a TypeError subclass) passes through unchanged.
void name_parameter_in_type_error(const char* parameter) {
  PyObject* raw_type = nullptr;
  PyObject* raw_value = nullptr;
  PyObject* raw_traceback = nullptr;
  PyErr_Fetch(&raw_type, &raw_value, &raw_traceback);
  if (raw_type != PyExc_TypeError) {
    PyErr_Restore(raw_type, raw_value, raw_traceback);
    return;
  }
  PyErr_NormalizeException(&raw_type, &raw_value, &raw_traceback);
  PyRef type = PyRef::steal(raw_type);
  PyRef value = PyRef::steal(raw_value);
  PyRef traceback = PyRef::steal(raw_traceback);

  PyRef text = PyRef::steal(PyUnicode_FromFormat("argument '%s': %S", parameter, value.get()));
  if (!text) return;
  PyRef replacement = PyRef::steal(PyObject_CallFunctionObjArgs(PyExc_TypeError, text.get(), nullptr));
  if (!replacement) return;
  // PyException_GetCause returns a new reference; SetCause takes it over.
  PyException_SetCause(replacement.get(), PyException_GetCause(value.get()));
  PyErr_SetObject(PyExc_TypeError, replacement.get());
}

// int, or anything with __index__, as an exact int (new reference). A bool
// is an int. Floats and str are refused by the interpreter's own check.
PyRef new_index(PyObject* value, const char* parameter) {
  PyRef index = PyRef::steal(PyNumber_Index(value));
  if (!index) name_parameter_in_type_error(parameter);
  return index;
}

}  // namespace

PyRef new_type_name(PyObject* object) {
  return PyRef::steal(
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__name__"));
}

bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                    std::span<PyObject*> bound) {
  for (PyObject*& slot : bound) slot = nullptr;

  const Py_ssize_t given = PyTuple_Size(args);
  if (given < 0) return false;
  if (static_cast<std::size_t>(given) > signature.positional.size()) {
    set_too_many_positional(signature, given);
    return false;
  }
  for (Py_ssize_t i = 0; i < given; ++i) bound[static_cast<std::size_t>(i)] = PyTuple_GetItem(args, i);

  if (kwargs != nullptr) {
    // A dict keeps the order in which the keywords were passed; the first
    // offending keyword decides the message.
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      std::optional<std::size_t> index = parameter_index(signature, key);
      if (!index) {
        set_keyword_error(signature, "got an unexpected keyword argument", key);
        return false;
      }
      if (bound[*index] != nullptr) {
        set_keyword_error(signature, "got multiple values for argument", key);
        return false;
      }
      bound[*index] = value;
    }
  }

  std::vector<const char*> missing;
  for (std::size_t i = 0; i < signature.required; ++i) {
    if (bound[i] == nullptr) missing.push_back(signature.positional[i]);
  }
  if (!missing.empty()) {
    set_missing(signature, missing);
    return false;
  }
  return true;
}

std::optional<std::string> to_utf8(PyObject* value, const char* parameter) {
  if (!PyUnicode_Check(value)) {
    PyRef type_name = new_type_name(value);
    if (!type_name) return std::nullopt;
    PyErr_Format(PyExc_TypeError, "argument '%s': '%U' object cannot be converted to 'PyString'",
                 parameter, type_name.get());
    return std::nullopt;
  }
  // Lone surrogates make this raise the interpreter's UnicodeEncodeError,
  // which the caller sees unchanged.
  PyRef encoded = PyRef::steal(PyUnicode_AsUTF8String(value));
  if (!encoded) return std::nullopt;
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(encoded.get(), &data, &size) < 0) return std::nullopt;
  return std::string(data, static_cast<std::size_t>(size));
}

std::optional<std::uint16_t> to_u16(PyObject* value, const char* parameter) {
  PyRef index = new_index(value, parameter);
  if (!index) return std::nullopt;
  // Beyond a C long the interpreter raises its own OverflowError.
  const long number = PyLong_AsLong(index.get());
  if (number == -1 && PyErr_Occurred()) return std::nullopt;
  if (number < 0 || number > UINT16_MAX) {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(number);
}

std::optional<std::uint64_t> to_u64(PyObject* value, const char* parameter) {
  PyRef index = new_index(value, parameter);
  if (!index) return std::nullopt;
  // Negative or above 2**64 - 1: the interpreter's OverflowError, unchanged.
  const unsigned long long number = PyLong_AsUnsignedLongLong(index.get());
  if (number == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return std::nullopt;
  return static_cast<std::uint64_t>(number);
}

}  // namespace orvik
