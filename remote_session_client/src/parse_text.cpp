// Text fields and text lists: validated as UTF-8, then copied once into an
// exactly sized string.
#include "parse_internal.h"
#include "remote_session_client/text.h"

namespace remote_session_client {

std::expected<std::string, ProtocolError> parse_text(capnp::Text::Reader text) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.begin());
  if (auto valid = validate_utf8(ByteView(bytes, text.size())); !valid) {
    return std::unexpected(ProtocolError{ProtocolError::Utf8{valid.error()}});
  }
  return std::string(text.begin(), text.size());
}

std::expected<std::vector<std::string>, ProtocolError> parse_text_list(
    capnp::List<capnp::Text>::Reader list, ElementBudget& budget) {
  std::vector<std::string> out;
  if (list.size() == 0) return out;
  if (auto e = budget.take(list.size())) return std::unexpected(std::move(*e));
  out.reserve(list.size());
  for (auto element : list) {
    auto text = parse_text(element);
    if (!text) return std::unexpected(std::move(text.error()));
    out.push_back(std::move(*text));
  }
  return out;
}

std::expected<std::vector<std::string>, ProtocolError> parse_text_list(
    capnp::List<capnp::Text>::Reader list) {
  auto budget = ElementBudget::unlimited();
  return parse_text_list(list, budget);
}

}  // namespace remote_session_client
