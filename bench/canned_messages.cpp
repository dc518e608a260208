#include "canned_messages.h"

#include <capnp/message.h>
#include <capnp/serialize.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "flat_message.h"
#include "orvik_config/orvik.capnp.h"

namespace orvik_bench {
namespace {

CannedFrame to_frame(capnp::MallocMessageBuilder& builder) {
  kj::Array<capnp::word> flat = capnp::messageToFlatArray(builder);
  const kj::ArrayPtr<const kj::byte> message = flat.asBytes();
  CannedFrame frame;
  frame.bytes.resize(4 + message.size());
  store_be32(frame.bytes.data(), static_cast<std::uint32_t>(message.size()));
  std::memcpy(frame.bytes.data() + 4, message.begin(), message.size());
  const std::optional<std::size_t> word = envelope_word_offset(message.begin(), message.size());
  if (!word) {
    // Only a broken build of the schema could get here: stop loudly rather
    // than measure frames nobody can read.
    std::fprintf(stderr, "canned message has no envelope data word\n");
    std::abort();
  }
  frame.seq_offset = 4 + *word;
  return frame;
}

std::string entry_name(std::uint32_t i) {
  char name[16];
  std::snprintf(name, sizeof name, "cap.%05u", static_cast<unsigned>(i));
  return name;
}

constexpr const char* kTransferPolicies[] = {"copy", "move", "pinned"};

}  // namespace

void CannedFrame::set_seq(std::uint32_t seq) { store_le32(bytes.data() + seq_offset, seq); }

std::string banner(std::size_t bytes) {
  std::string text;
  text.reserve(bytes + kMotd.size() + 1);
  while (text.size() < bytes) {
    text += kMotd;
    text += '\n';
  }
  text.resize(bytes);
  return text;
}

CannedFrame motd_response(std::string_view text) {
  // A first segment that holds the whole banner keeps the answer a
  // single-segment message, as a gateway's builder would size it.
  capnp::MallocMessageBuilder builder(static_cast<unsigned>(8 + text.size() / 8));
  auto root = builder.initRoot<orvik_capnp::RemoteGatewayResponse>();
  root.setSystemMotd(capnp::Text::Reader(text.data(), text.size()));
  return to_frame(builder);
}

CannedFrame session_info_response() {
  capnp::MallocMessageBuilder builder;
  auto root = builder.initRoot<orvik_capnp::RemoteGatewayResponse>();
  auto session = root.initSessionInfo();
  session.setAuthStrength(orvik_capnp::AuthStrength::PASSWORD);
  session.setGeneration(3);
  session.setIdleTimeoutSecs(900);
  session.setCreatedAtMs(1'700'000'000'000ULL);
  session.setExpiresAtMs(1'700'003'600'000ULL);
  static constexpr kj::byte kSessionId[16] = {0x00, 0x0a, 0xff, 0x10, 0x32, 0x54, 0x76, 0x98,
                                              0xba, 0xdc, 0xfe, 0x01, 0x23, 0x45, 0x67, 0x89};
  session.setSessionId(capnp::Data::Reader(kSessionId, sizeof kSessionId));
  auto principal = session.initPrincipal();
  principal.setKind(orvik_capnp::PrincipalKind::OPERATOR);
  principal.setDisplayName("console operator");
  session.setProfile("operator");
  return to_frame(builder);
}

CannedFrame capset_list_response(std::uint32_t entries) {
  // Per entry: 4 words of struct, 2 of name, 1-2 of policy. A first segment
  // that holds the whole list keeps the answer a single-segment message.
  const std::size_t estimate_words = 16 + std::size_t{entries} * 8;
  capnp::MallocMessageBuilder builder(static_cast<unsigned>(estimate_words));
  auto root = builder.initRoot<orvik_capnp::RemoteGatewayResponse>();
  auto list = root.initCapsetList(entries);
  for (std::uint32_t i = 0; i < entries; ++i) {
    auto entry = list[i];
    entry.setInterfaceId(0x80b87169c39aaf1cULL ^ (std::uint64_t{i} * 0x9e3779b97f4a7c15ULL));
    entry.setLeaseExpiresAtMs(1'700'000'000'000ULL + std::uint64_t{i} * 1000);
    entry.setName(entry_name(i));
    entry.setTransferPolicy(kTransferPolicies[i % 3]);
  }
  return to_frame(builder);
}

CannedFrame logged_out_response() {
  capnp::MallocMessageBuilder builder;
  builder.initRoot<orvik_capnp::RemoteGatewayResponse>().setLoggedOut(true);
  return to_frame(builder);
}

CannedFrame error_response() {
  capnp::MallocMessageBuilder builder;
  auto error = builder.initRoot<orvik_capnp::RemoteGatewayResponse>().initError();
  error.setCode(orvik_capnp::RemoteErrorCode::METHOD_DENIED);
  error.setMessage("the canned gateway answers systemMotd, sessionInfo, capsetList and logout only");
  return to_frame(builder);
}

CannedFrame request_frame(RequestArm arm) {
  capnp::MallocMessageBuilder builder;
  auto root = builder.initRoot<orvik_capnp::RemoteGatewayRequest>();
  switch (arm) {
    case RequestArm::CapsetList: root.setCapsetList(); break;
    case RequestArm::SessionInfo: root.setSessionInfo(); break;
    case RequestArm::SystemMotd: root.setSystemMotd(); break;
    case RequestArm::Logout: root.setLogout(); break;
  }
  return to_frame(builder);
}

}  // namespace orvik_bench
