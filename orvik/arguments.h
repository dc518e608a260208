// Binding Python call arguments to parameters, and converting them to C++.
// Every TypeError text a caller can see for a bad call is built here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "pyref.h"

namespace orvik {

struct Signature {
  // "Client.login_guest()": names the callable in every binding message.
  const char* qualified_name;
  // Parameters that can be passed by position or by keyword, in order.
  std::span<const char* const> positional;
  // How many of the positional parameters, from the first, are required.
  std::size_t required;
  // Parameters that can only be passed by keyword. All are optional.
  std::span<const char* const> keyword_only = {};

  constexpr std::size_t parameter_count() const { return positional.size() + keyword_only.size(); }
  constexpr const char* parameter_name(std::size_t index) const {
    return index < positional.size() ? positional[index]
                                     : keyword_only[index - positional.size()];
  }
};

// Binds `args` and `kwargs` to `bound`, one slot per parameter (positional,
// then keyword-only), holding a borrowed reference or null for an argument
// that was not passed. The references stay valid for the call, since the
// caller's tuple and dict hold them. On failure returns false with the
// TypeError set.
bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                    std::span<PyObject*> bound);

// Conversions. Each returns the value, or nothing with the exception set.
// A TypeError names the parameter; other errors pass through unchanged.
std::optional<std::string> to_utf8(PyObject* value, const char* parameter);
std::optional<std::uint16_t> to_u16(PyObject* value, const char* parameter);
std::optional<std::uint64_t> to_u64(PyObject* value, const char* parameter);

// The `__name__` of the object's type, as a new reference.
PyRef new_type_name(PyObject* object);

}  // namespace orvik
