// ConnectionError for a constructor that could not connect, RuntimeError for
// an operation that failed: exactly two classes, each carrying the library's
// display text as its only argument.
#include "errors.h"

#include <string>

namespace orvik {
namespace {

PyObject* raise_with_text(PyObject* exception_class, const std::string& text) {
  // The texts are UTF-8 built by the library. Should one ever hold a bad
  // byte, replacing it is better than losing the failure behind a
  // UnicodeDecodeError.
  PyRef message = PyRef::steal(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
  if (message) PyErr_SetObject(exception_class, message.get());
  return nullptr;
}

}  // namespace

PyObject* raise_connection_error(const remote_session_client::RemoteSessionConnectError& error) {
  return raise_with_text(PyExc_ConnectionError, remote_session_client::to_string(error));
}

PyObject* raise_runtime_error(const remote_session_client::RemoteSessionClientError& error) {
  return raise_with_text(PyExc_RuntimeError, remote_session_client::to_string(error));
}

}  // namespace orvik
