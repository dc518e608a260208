// decode_response: one response frame to a ResponseKind. The message is read
// in place; Cap'n Proto's exceptions stop here and become ProtocolError::Capnp.
#include <cstring>

#include <capnp/serialize.h>
#include <kj/array.h>
#include <kj/exception.h>

#include "parse_internal.h"
#include "remote_session_client/protocol.h"

namespace remote_session_client {

namespace {

using Root = orvik_capnp::RemoteGatewayResponse;
using ArmResult = std::expected<ResponseKind, ProtocolError>;

// Arms 0-22 are the whole response union this client knows.
constexpr std::uint16_t kLastResponseArm = 22;

template <typename Variant, typename T>
ArmResult wrap(std::expected<T, ProtocolError>&& parsed) {
  if (!parsed) return std::unexpected(std::move(parsed.error()));
  return ResponseKind{Variant{std::move(*parsed)}};
}

template <typename Variant>
ArmResult text_arm(capnp::Text::Reader text, DecodeBudget& budget) {
  return wrap<Variant>(parse_text(text, budget));
}

ArmResult decode_arm(Root::Reader root, DecodeBudget& budget) {
  switch (root.which()) {
    case Root::AUTH_METHODS:
      return wrap<response::AuthMethods>(parse_auth_methods(root.getAuthMethods(), budget));
    case Root::SESSION_STARTED:
      return wrap<response::SessionStarted>(
          parse_session_started(root.getSessionStarted(), budget));
    case Root::CAPSET_LIST:
      return wrap<response::CapsetList>(parse_capset_list(root.getCapsetList(), budget));
    case Root::CAP_GRANTED:
      return wrap<response::CapGranted>(parse_cap_entry(root.getCapGranted(), budget));
    case Root::SESSION_INFO:
      return wrap<response::SessionInfo>(parse_session_info(root.getSessionInfo(), budget));
    case Root::SYSTEM_MOTD:
      return text_arm<response::SystemMotd>(root.getSystemMotd(), budget);
    case Root::CHAT_SENT:
      return response::ChatSent{.value = root.getChatSent()};
    case Root::LOGGED_OUT:
      return response::LoggedOut{.value = root.getLoggedOut()};
    case Root::ERROR:
      return wrap<response::Error>(parse_remote_error(root.getError(), budget));
    case Root::SERVICE_CATALOG:
      return wrap<response::ServiceCatalog>(
          parse_service_catalog(root.getServiceCatalog(), budget));
    case Root::LAUNCHER_CATALOG:
      return wrap<response::LauncherCatalog>(
          parse_launcher_catalog(root.getLauncherCatalog(), budget));
    case Root::SERVICE_LAUNCH:
      return wrap<response::ServiceLaunch>(
          parse_service_launch_status(root.getServiceLaunch(), budget));
    case Root::ADVENTURE_STATUS:
      return text_arm<response::AdventureStatus>(root.getAdventureStatus(), budget);
    case Root::ADVENTURE_LOOK:
      return text_arm<response::AdventureLook>(root.getAdventureLook(), budget);
    case Root::ADVENTURE_INVENTORY:
      return text_arm<response::AdventureInventory>(root.getAdventureInventory(), budget);
    case Root::ADVENTURE_GO:
      return text_arm<response::AdventureGo>(root.getAdventureGo(), budget);
    case Root::CHAT_JOINED:
      return response::ChatJoined{.value = root.getChatJoined()};
    case Root::CHAT_LEFT:
      return response::ChatLeft{.value = root.getChatLeft()};
    case Root::CHAT_POLL_EVENTS:
      return wrap<response::ChatPollEvents>(
          parse_chat_poll_events(root.getChatPollEvents(), budget));
    case Root::CHAT_WHO_MEMBERS:
      return wrap<response::ChatWhoMembers>(
          parse_chat_who_members(root.getChatWhoMembers(), budget));
    case Root::ADVENTURE_TAKE:
      return text_arm<response::AdventureTake>(root.getAdventureTake(), budget);
    case Root::ADVENTURE_DROP:
      return text_arm<response::AdventureDrop>(root.getAdventureDrop(), budget);
    case Root::ADVENTURE_USE:
      return text_arm<response::AdventureUse>(root.getAdventureUse(), budget);
  }
  // Unknown arms are refused before this switch.
  return std::unexpected(ProtocolError{ProtocolError::SchemaMismatch{"unreachable response arm"}});
}

std::expected<DecodedResponse, ProtocolError> decode_words(
    std::uint32_t expected_seq, kj::ArrayPtr<const capnp::word> words) {
  capnp::ReaderOptions options;
  options.traversalLimitInWords = kTraversalLimitWords;
  options.nestingLimit = kNestingLimit;
  capnp::FlatArrayMessageReader reader(words, options);
  const auto root = reader.getRoot<Root>();

  const std::uint32_t seq = root.getSeq();
  if (seq != expected_seq) {
    return std::unexpected(ProtocolError{ProtocolError::SeqMismatch{expected_seq, seq}});
  }
  // The generated which() does not check the value; the arm count is ours to
  // enforce, with the fixed text the client has always reported.
  const auto arm = static_cast<std::uint16_t>(root.which());
  if (arm > kLastResponseArm) {
    return std::unexpected(ProtocolError{ProtocolError::SchemaMismatch{
        "Enum value or union discriminant " + std::to_string(arm) +
        " was not present in the schema."}});
  }
  auto budget = DecodeBudget::for_message(words.size());
  auto kind = decode_arm(root, budget);
  if (!kind) return std::unexpected(std::move(kind.error()));
  return DecodedResponse{std::move(*kind), seq};
}

}  // namespace

std::expected<DecodedResponse, ProtocolError> decode_response(std::uint32_t expected_seq,
                                                              ByteView payload) {
  try {
    // A partial trailing word cannot belong to the message: segments are whole
    // words, so it is ignored like any other trailing byte.
    const std::size_t word_count = payload.size() / sizeof(capnp::word);
    if (reinterpret_cast<std::uintptr_t>(payload.data()) % alignof(capnp::word) == 0) {
      const auto* words = reinterpret_cast<const capnp::word*>(payload.data());
      return decode_words(expected_seq, kj::arrayPtr(words, word_count));
    }
    // Cap'n Proto reads whole words; a buffer that does not start on a word
    // boundary is copied once into one that does.
    auto aligned = kj::heapArray<capnp::word>(word_count);
    std::memcpy(aligned.begin(), payload.data(), word_count * sizeof(capnp::word));
    return decode_words(expected_seq,
                        kj::ArrayPtr<const capnp::word>(aligned.begin(), aligned.size()));
  } catch (const kj::Exception& exception) {
    return std::unexpected(
        ProtocolError{ProtocolError::Capnp{std::string(exception.getDescription().cStr())}});
  }
}

}  // namespace remote_session_client
