// Chat answers: polled events and channel members.
#include "parse_internal.h"

namespace remote_session_client {

namespace {

// The gateway's event kinds are 0 to 4; a kind this client does not know is
// read as 0 rather than failing the whole poll.
constexpr std::uint16_t kLastChatEventKind = 4;

std::expected<ChatEventInfo, ProtocolError> parse_chat_event(
    orvik_capnp::RemoteChatEvent::Reader wire, DecodeBudget& budget) {
  ChatEventInfo event;
  if (auto e = assign_text(event.text0, wire.getText0(), budget)) {
    return std::unexpected(std::move(*e));
  }
  if (auto e = assign_text(event.text1, wire.getText1(), budget)) {
    return std::unexpected(std::move(*e));
  }
  if (auto e = assign_text(event.text2, wire.getText2(), budget)) {
    return std::unexpected(std::move(*e));
  }
  const auto kind = static_cast<std::uint16_t>(wire.getKind());
  event.kind = kind <= kLastChatEventKind ? static_cast<std::uint8_t>(kind) : 0;
  return event;
}

}  // namespace

std::expected<std::vector<ChatEventInfo>, ProtocolError> parse_chat_poll_events(
    orvik_capnp::RemoteChatPollResult::Reader result, DecodeBudget& budget) {
  return parse_list(result.getEvents(), budget, parse_chat_event);
}

std::expected<std::vector<std::string>, ProtocolError> parse_chat_who_members(
    orvik_capnp::RemoteChatWhoResult::Reader result, DecodeBudget& budget) {
  return parse_text_list(result.getMembers(), budget);
}

std::expected<std::vector<ChatEventInfo>, ProtocolError> parse_chat_poll_events(
    orvik_capnp::RemoteChatPollResult::Reader result) {
  auto budget = DecodeBudget::unlimited();
  return parse_chat_poll_events(result, budget);
}

std::expected<std::vector<std::string>, ProtocolError> parse_chat_who_members(
    orvik_capnp::RemoteChatWhoResult::Reader result) {
  auto budget = DecodeBudget::unlimited();
  return parse_chat_who_members(result, budget);
}

}  // namespace remote_session_client
