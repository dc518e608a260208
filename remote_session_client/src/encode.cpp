// RequestKind to RemoteGatewayRequest bytes. Each request fills the union arm
// the gateway dispatches on; the payload writers below follow the gateway's
// field order, so the bytes are the same as any other correct client's.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include <capnp/message.h>
#include <capnp/serialize.h>
#include <kj/exception.h>
#include <kj/io.h>

#include "orvik_config/orvik.capnp.h"
#include "remote_session_client/protocol.h"

namespace remote_session_client {

namespace {

using Request = orvik_capnp::RemoteGatewayRequest;
using Written = std::expected<void, ProtocolError>;

Written refuse(ProtocolError error) { return std::unexpected(std::move(error)); }

// Text readers borrow the string, which must be NUL-terminated just past its
// end: std::string always is, and so are the string literals behind the
// probe's fixed texts.
capnp::Text::Reader as_text(const std::string& s) {
  return capnp::Text::Reader(s.data(), s.size());
}
capnp::Text::Reader as_text_literal(std::string_view literal) {
  return capnp::Text::Reader(literal.data(), literal.size());
}

// An empty vector may have no storage at all; hand Cap'n Proto a real
// address anyway so that an empty proof still becomes an empty, non-null Data.
capnp::Data::Reader as_data(const Bytes& bytes) {
  static constexpr kj::byte kNoBytes = 0;
  return bytes.empty() ? capnp::Data::Reader(&kNoBytes, 0)
                       : capnp::Data::Reader(bytes.data(), bytes.size());
}

// ------------------------------------------------------------ authentication

// Setting an arm's Data also sets the selector's discriminant.
void write_selector(orvik_capnp::LoginSelector::Builder selector, const LoginSelector& from) {
  if (from.tag == LoginSelector::Tag::Opaque) {
    selector.setOpaqueSelector(as_data(from.bytes));
  } else {
    selector.setAccountName(as_data(from.bytes));
  }
}

void write_login(Request::Builder root, const AuthMode& mode) {
  struct Visitor {
    Request::Builder root;
    void operator()(const auth::Password& p) {
      auto login = root.initPasswordLogin();
      write_selector(login.initSelector(), p.selector);
      login.setProfile(as_text(p.profile));
      login.setProof(as_data(p.proof));
    }
    void operator()(const auth::Anonymous& a) {
      root.initAnonymousLogin().setProfile(as_text(a.profile));
    }
    void operator()(const auth::Guest& g) { root.initGuestLogin().setProfile(as_text(g.profile)); }
  };
  std::visit(Visitor{root}, mode);
}

// ---------------------------------------------------------- session, CapSet

void write_capset_get(Request::Builder root, const request::CapsetGet& r) {
  auto get = root.initCapsetGet();
  get.setName(as_text(r.name));
  get.setExpectedInterfaceId(r.expected);
}

// ------------------------------------------------ service catalog and launch

// The grants list is always written, also when empty: an empty list, never a
// null pointer.
void write_service_launch(Request::Builder root, const request::ServiceLaunch& r) {
  auto launch = root.initServiceLaunch();
  launch.setProfile(as_text(r.profile));
  // Cap'n Proto refuses an oversized list itself, but only after the count
  // has been narrowed to its own width; a count cut short here would drop
  // grants without a word.
  KJ_REQUIRE(r.grants.size() <= std::numeric_limits<unsigned>::max(),
             "too many grants for one list");
  auto grants = launch.initGrants(static_cast<unsigned>(r.grants.size()));
  for (unsigned i = 0; i < grants.size(); ++i) grants.set(i, as_text(r.grants[i]));
}

// ---------------------------------------------------------------------- chat

void write_chat_send(Request::Builder root, capnp::Text::Reader channel,
                     capnp::Text::Reader text) {
  auto send = root.initChatSend();
  send.setChannel(channel);
  send.setText(text);
}

void write_chat_join(Request::Builder root, const request::ChatJoin& r) {
  auto join = root.initChatJoin();
  join.setChannel(as_text(r.channel));
  join.setHandle(as_text(r.handle));
}

// ----------------------------------------------------------------- adventure

Written write_adventure_go(Request::Builder root, const request::AdventureGo& r) {
  auto direction = normalize_adventure_token(r.direction);
  if (!direction) return refuse({ProtocolError::InvalidAdventureDirection{direction.error()}});
  root.initAdventureGo().setDirection(as_text(*direction));
  return {};
}

// `init_arm` sets the arm (take, drop or use) and returns its payload struct.
template <typename InitArm>
Written write_adventure_item(std::string_view item, InitArm init_arm) {
  auto normalized = normalize_adventure_token(item);
  if (!normalized) return refuse({ProtocolError::InvalidAdventureItem{normalized.error()}});
  init_arm().setItem(as_text(*normalized));
  return {};
}

Written refuse_paperclips() {
  return refuse({ProtocolError::SchemaMismatch{std::string(kPaperclipsRefusal)}});
}

// ------------------------------------------------------------------ dispatch

struct ArmWriter {
  Request::Builder root;

  Written operator()(const request::AuthMethods&) { root.setAuthMethods(); return {}; }
  Written operator()(const request::Login& r) { write_login(root, r.mode); return {}; }
  Written operator()(const request::CapsetList&) { root.setCapsetList(); return {}; }
  Written operator()(const request::CapsetGet& r) { write_capset_get(root, r); return {}; }
  Written operator()(const request::ServiceCatalog&) { root.setServiceCatalog(); return {}; }
  Written operator()(const request::LauncherCatalog&) { root.setLauncherCatalog(); return {}; }
  Written operator()(const request::ServiceLaunch& r) { write_service_launch(root, r); return {}; }
  Written operator()(const request::SessionInfo&) { root.setSessionInfo(); return {}; }
  Written operator()(const request::SystemMotd&) { root.setSystemMotd(); return {}; }
  Written operator()(const request::ChatSend& r) {
    write_chat_send(root, as_text(r.channel), as_text(r.text));
    return {};
  }
  // On the wire the probe is an ordinary chatSend with fixed values.
  Written operator()(const request::ChatSchemaDenialProbe&) {
    write_chat_send(root, as_text_literal(kSchemaDenialChannel),
                    as_text_literal(kSchemaDenialText));
    return {};
  }
  Written operator()(const request::ChatJoin& r) { write_chat_join(root, r); return {}; }
  Written operator()(const request::ChatLeave& r) {
    root.initChatLeave().setChannel(as_text(r.channel));
    return {};
  }
  Written operator()(const request::ChatPoll& r) {
    root.initChatPoll().setMaxEvents(r.max_events);
    return {};
  }
  Written operator()(const request::ChatWho& r) {
    root.initChatWho().setChannel(as_text(r.channel));
    return {};
  }
  Written operator()(const request::AdventureStatus&) { root.setAdventureStatus(); return {}; }
  Written operator()(const request::AdventureLook&) { root.setAdventureLook(); return {}; }
  Written operator()(const request::AdventureInventory&) {
    root.setAdventureInventory();
    return {};
  }
  Written operator()(const request::AdventureGo& r) { return write_adventure_go(root, r); }
  Written operator()(const request::AdventureTake& r) {
    return write_adventure_item(r.item, [this] { return root.initAdventureTake(); });
  }
  Written operator()(const request::AdventureDrop& r) {
    return write_adventure_item(r.item, [this] { return root.initAdventureDrop(); });
  }
  Written operator()(const request::AdventureUse& r) {
    return write_adventure_item(r.item, [this] { return root.initAdventureUse(); });
  }
  // The gateway's request schema has no paperclips arms.
  Written operator()(const request::PaperclipsInitial&) { return refuse_paperclips(); }
  Written operator()(const request::PaperclipsCommand&) { return refuse_paperclips(); }
  Written operator()(const request::PaperclipsStatus&) { return refuse_paperclips(); }
  Written operator()(const request::PaperclipsProjects&) { return refuse_paperclips(); }
  Written operator()(const request::Logout&) { root.setLogout(); return {}; }
};

// The flat serialisation (segment table, then segments) written straight into
// `out`, sized to exactly its length.
void serialise(capnp::MessageBuilder& message, Bytes& out) {
  const std::size_t words = capnp::computeSerializedSizeInWords(message);
  out.resize(words * sizeof(capnp::word));
  kj::ArrayOutputStream stream(kj::arrayPtr(out.data(), out.size()));
  capnp::writeMessage(stream, message);
  KJ_ASSERT(stream.getArray().size() == out.size(), "flat message size was mispredicted");
}

}  // namespace

std::expected<Bytes, ProtocolError> encode_request(std::uint32_t seq, const RequestKind& request) {
  Bytes out;
  if (auto encoded = encode_request_into(seq, request, out); !encoded) {
    return std::unexpected(std::move(encoded.error()));
  }
  return out;
}

std::expected<void, ProtocolError> encode_request_into(std::uint32_t seq, const RequestKind& request,
                                                       Bytes& out) {
  out.clear();
  try {
    // The first segment of 1024 words holds every ordinary request; larger
    // ones grow into further heap segments exactly as with the builder's
    // own first segment, so the bytes are the same. It is this thread's
    // scratch rather than a fresh zeroed 8 KiB per request: the builder
    // zeroes what it used when it is destroyed, also when an exception
    // leaves this block, so the scratch is all zeros whenever it is handed
    // over, as the builder requires. One per thread, because clients may be
    // used from several threads.
    static constexpr std::size_t kFirstSegmentWords = capnp::SUGGESTED_FIRST_SEGMENT_WORDS;
    thread_local capnp::word first_segment[kFirstSegmentWords];
    capnp::MallocMessageBuilder message(kj::arrayPtr(first_segment, kFirstSegmentWords));
    auto root = message.initRoot<Request>();
    root.setSeq(seq);
    if (auto written = std::visit(ArmWriter{root}, request); !written) {
      return std::unexpected(std::move(written.error()));
    }
    serialise(message, out);
    return {};
  } catch (const kj::Exception& e) {
    out.clear();
    // A string too long for a Cap'n Proto list, a grants list too long for
    // its element count, ...
    const kj::StringPtr description = e.getDescription();
    std::string text(description.begin(), description.size());
    return std::unexpected(ProtocolError{ProtocolError::Capnp{std::move(text)}});
  }
}

}  // namespace remote_session_client
