// `request KIND [FIELD=VALUE ...]`: every request kind the codec builds, by
// the name its transcript label starts with, with its fields by their schema
// names. One table row per kind says its fields, the answer it is meant to
// get and how the request is built from the values given.
#pragma once

#include <array>
#include <expected>
#include <span>
#include <string_view>

#include "exit_status.h"
#include "remote_session_client/request.h"

namespace orvik_session {

namespace command {
// Any request the codec builds, and the kind of answer it is meant to get.
struct Request {
  remote_session_client::RequestKind request;
  std::string_view answer;
};
}  // namespace command

enum class FieldType {
  Text,      // any UTF-8 text, sent unchanged
  TextList,  // a list of such texts: the field given once per element, in order
  U16,       // a number from 0 to 65535
  U64,       // a number from 0 to 2^64 - 1
};

// "text", "text (repeat for each element)", ...
std::string_view describe(FieldType type);

struct RequestFieldSpec {
  std::string_view name;  // empty: no field
  FieldType type = FieldType::Text;
};

class FieldValues;

struct RequestKindSpec {
  std::string_view kind;
  std::array<RequestFieldSpec, 2> fields;
  std::string_view answer;  // the response kind name that answers it
  remote_session_client::RequestKind (*build)(const FieldValues&);
};

// In the order of the codec's request kinds; the logins are left out (see
// requests.cpp).
std::span<const RequestKindSpec> request_kinds();

// The request for `kind` with `assignments` ("FIELD=VALUE" each). An unknown
// kind, field or value is refused naming it and what would be valid, a text
// that is not UTF-8 among them (the gateway would drop the connection). A
// field not given is sent as the schema's default (empty text, empty list, 0).
std::expected<command::Request, UsageError> build_request(
    std::string_view kind, std::span<const std::string_view> assignments);

}  // namespace orvik_session
