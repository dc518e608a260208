// Chat answers: polled events and channel members.
#include "parse_internal.h"

namespace remote_session_client {

namespace {

// The gateway's event kinds are 0 to 4; a kind this client does not know is
// read as 0 rather than failing the whole poll.
constexpr std::uint16_t kLastChatEventKind = 4;

using ChatEventWire = orvik_capnp::RemoteChatEvent::Reader;

void fill_chat_event(FieldReader& fields, ChatEventInfo& event, ChatEventWire wire) {
  fields.read<&ChatEventWire::getText0>(event.text0, wire);
  fields.read<&ChatEventWire::getText1>(event.text1, wire);
  fields.read<&ChatEventWire::getText2>(event.text2, wire);
  const auto kind = static_cast<std::uint16_t>(wire.getKind());
  event.kind = kind <= kLastChatEventKind ? static_cast<std::uint8_t>(kind) : 0;
}

}  // namespace

std::expected<std::vector<ChatEventInfo>, ProtocolError> parse_chat_poll_events(
    orvik_capnp::RemoteChatPollResult::Reader result, DecodeBudget& budget) {
  return fill_list<ChatEventInfo>(result.getEvents(), budget, fill_chat_event);
}

std::expected<std::vector<std::string>, ProtocolError> parse_chat_who_members(
    orvik_capnp::RemoteChatWhoResult::Reader result, DecodeBudget& budget) {
  return parse_text_list(result.getMembers(), budget);
}

}  // namespace remote_session_client
