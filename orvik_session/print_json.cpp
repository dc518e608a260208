// The answer for scripts: one JSON document, built with nlohmann-json so
// that every text is escaped as JSON requires.
#include <nlohmann/json.hpp>

#include "print.h"
#include "remote_session_client/text.h"

namespace orvik_session {

namespace {

nlohmann::ordered_json json_of(const Value& value);

nlohmann::ordered_json json_of(const Record& record) {
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  for (const Member& m : record) object[std::string(m.name)] = json_of(m.value);
  return object;
}

nlohmann::ordered_json json_of(const Value& value) {
  struct Visitor {
    nlohmann::ordered_json operator()(const std::string& text) const { return text; }
    nlohmann::ordered_json operator()(std::uint64_t number) const { return number; }
    nlohmann::ordered_json operator()(bool flag) const { return flag; }
    // A string, as everywhere else: many JSON readers hold numbers as
    // doubles, which cannot hold every 64-bit id.
    nlohmann::ordered_json operator()(InterfaceId id) const {
      return remote_session_client::hex_u64_padded(id.value);
    }
    nlohmann::ordered_json operator()(const List& list) const {
      nlohmann::ordered_json array = nlohmann::ordered_json::array();
      for (const Value& item : list) array.push_back(json_of(item));
      return array;
    }
    nlohmann::ordered_json operator()(const Record& record) const { return json_of(record); }
  };
  return std::visit(Visitor{}, value.data);
}

}  // namespace

std::string json_text(const Answer& answer) {
  nlohmann::ordered_json document = nlohmann::ordered_json::object();
  document["kind"] = std::string(answer.kind);
  for (const Member& m : answer.fields) document[std::string(m.name)] = json_of(m.value);
  // The codec hands out valid UTF-8 only; `replace` keeps dump from ever
  // throwing should that change.
  return document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace orvik_session
