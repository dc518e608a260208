// Chat answers: polled events and channel members.
#include "parse_internal.h"

namespace remote_session_client {

namespace {

// The gateway's event kinds are 0 to 4; a kind this client does not know is
// read as 0 rather than failing the whole poll.
constexpr std::uint16_t kLastChatEventKind = 4;

std::expected<ChatEventInfo, ProtocolError> parse_chat_event(
    orvik_capnp::RemoteChatEvent::Reader wire, DecodeBudget& budget) {
  using Wire = orvik_capnp::RemoteChatEvent::Reader;
  FieldReader fields(budget);
  ChatEventInfo event;
  fields.read<&Wire::getText0>(event.text0, wire);
  fields.read<&Wire::getText1>(event.text1, wire);
  fields.read<&Wire::getText2>(event.text2, wire);
  const auto kind = static_cast<std::uint16_t>(wire.getKind());
  event.kind = kind <= kLastChatEventKind ? static_cast<std::uint8_t>(kind) : 0;
  return fields.finish(std::move(event));
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

}  // namespace remote_session_client
