// A decoded answer as a tree of named fields, the one shape both printers
// walk: the human columns and the JSON document show the same fields under
// the same names (the records' field names).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "remote_session_client/response.h"

namespace orvik_session {

struct Value;
struct Member;
using List = std::vector<Value>;
using Record = std::vector<Member>;

// A Cap'n Proto interface id: shown as "0x" and 16 hex digits, the way the
// gateway's transcripts and our own arguments spell it.
struct InterfaceId {
  std::uint64_t value = 0;
};

struct Value {
  std::variant<std::string, std::uint64_t, bool, InterfaceId, List, Record> data;
};

struct Member {
  std::string_view name;
  Value value;
};

// The answer: its kind name and its payload's fields.
struct Answer {
  std::string_view kind;
  Record fields;
};

Answer answer_tree(const remote_session_client::ResponseKind& response);

}  // namespace orvik_session
