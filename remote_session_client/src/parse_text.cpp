// Text fields and text lists: charged to the response's budget, validated as
// UTF-8, then copied once into an exactly sized string.
#include "parse_internal.h"
#include "remote_session_client/text.h"

namespace remote_session_client {

std::optional<ProtocolError> check_text(capnp::Text::Reader text, DecodeBudget& budget) {
  // Charged before it is validated or copied: both read every byte, and a
  // text shared by many pointers must fail before it is read once too often.
  if (auto e = budget.take_text(text.size())) return e;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.begin());
  if (auto valid = validate_utf8(ByteView(bytes, text.size())); !valid) {
    return ProtocolError{ProtocolError::Utf8{valid.error()}};
  }
  return std::nullopt;
}

std::expected<std::string, ProtocolError> parse_text(capnp::Text::Reader text,
                                                     DecodeBudget& budget) {
  if (auto e = check_text(text, budget)) return std::unexpected(std::move(*e));
  return std::string(text.begin(), text.size());
}

std::expected<std::vector<std::string>, ProtocolError> parse_text_list(
    capnp::List<capnp::Text>::Reader list, DecodeBudget& budget) {
  return parse_list(list, budget, parse_text);
}

}  // namespace remote_session_client
