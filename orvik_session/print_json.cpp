// The answer for scripts: one JSON document, built with nlohmann-json so
// that every text is escaped as JSON requires, and then every character the
// quoted form escapes (DEL, the C1 controls, the bidirectional overrides and
// isolates...) as \u too: a document paged on a terminal is as safe as the
// human form.
#include <nlohmann/json.hpp>

#include "output.h"
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

void append_u_escape(std::string& out, char32_t unit) {
  constexpr char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

// dump leaves every character from U+0020 on as it is. Only strings hold
// characters outside ASCII or DEL, so each such one is escaped in place; one
// beyond the BMP as its surrogate pair, as JSON spells it.
std::string escaped(const std::string& dumped) {
  std::string out;
  out.reserve(dumped.size());
  for (std::size_t i = 0; i < dumped.size();) {
    const unsigned char lead = static_cast<unsigned char>(dumped[i]);
    if (lead < 0x7F) {
      out += dumped[i++];
      continue;
    }
    const auto [code_point, length] = first_code_point(std::string_view(dumped).substr(i));
    if (!remote_session_client::escaped_by_unicode_rule(code_point)) {
      out.append(dumped, i, length);
    } else if (code_point < 0x10000) {
      append_u_escape(out, code_point);
    } else {
      append_u_escape(out, 0xD800 + ((code_point - 0x10000) >> 10));
      append_u_escape(out, 0xDC00 + ((code_point - 0x10000) & 0x3FF));
    }
    i += length;
  }
  return out;
}

}  // namespace

std::string json_document(const nlohmann::ordered_json& document) {
  // The codec hands out valid UTF-8 only; `replace` keeps dump from ever
  // throwing should that change, and leaves valid UTF-8 for `escaped`.
  return escaped(document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)) + "\n";
}

std::string json_text(const Answer& answer) {
  nlohmann::ordered_json document = nlohmann::ordered_json::object();
  document["kind"] = std::string(answer.kind);
  for (const Member& m : answer.fields) document[std::string(m.name)] = json_of(m.value);
  return json_document(document);
}

}  // namespace orvik_session
