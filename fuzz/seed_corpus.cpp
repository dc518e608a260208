// Writes the seed corpora of the fuzzers: one valid response of every arm,
// built with the generated schema code, plus the few hand-made shapes a
// builder never makes (unknown arm, short data section, wrong seq).
//
//   seed_corpus OUT_DIR   ->  OUT_DIR/{decode_response,read_frame,frame_reader,transact}/NAME
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <capnp/message.h>
#include <capnp/serialize.h>

#include "orvik_config/orvik.capnp.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Root = orvik_capnp::RemoteGatewayResponse;
namespace fs = std::filesystem;

// The seq every seed answers with: the first request of a fresh client.
constexpr std::uint32_t kSeq = 1;

Bytes build(std::uint32_t seq, const std::function<void(Root::Builder)>& fill) {
  capnp::MallocMessageBuilder message;
  auto root = message.initRoot<Root>();
  root.setSeq(seq);
  fill(root);
  const auto words = capnp::messageToFlatArray(message);
  const auto bytes = words.asBytes();
  return Bytes(bytes.begin(), bytes.end());
}

void fill_session(orvik_capnp::SessionInfo::Builder session) {
  session.setAuthStrength(orvik_capnp::AuthStrength::PASSWORD);
  session.setExpiresAtMs(1'700'000'000'000ULL);
  const std::uint8_t id[] = {0xde, 0xad, 0xbe, 0xef};
  session.setSessionId(capnp::Data::Reader(id, sizeof id));
  auto principal = session.initPrincipal();
  principal.setKind(orvik_capnp::PrincipalKind::HUMAN);
  principal.setDisplayName("console");
  session.setProfile("operator");
}

void fill_cap(orvik_capnp::RemoteCapEntry::Builder entry, const char* name) {
  entry.setInterfaceId(0x80b87169c39aaf1cULL);
  entry.setLeaseExpiresAtMs(42);
  entry.setName(name);
  entry.setTransferPolicy("copy");
}

void fill_service(orvik_capnp::RemoteServiceCatalogEntry::Builder entry) {
  entry.setText0("svc");
  entry.setText3("desc");
  entry.setValue(7);
  auto hints = entry.initTextList0(2);
  hints.set(0, "a");
  hints.set(1, "b\xc3\xa9");
  entry.initTextList1(1).set(0, "c");
}

struct Seed {
  const char* name;
  std::function<void(Root::Builder)> fill;
};

std::vector<Seed> seeds() {
  return {
      {"auth_methods", [](Root::Builder r) {
         auto list = r.initAuthMethods(2);
         list[0].setKind(orvik_capnp::RemoteAuthMethodKind::PASSWORD);
         list[0].setEnabled(true);
         list[0].setLabel("Password");
         list[0].initProfileHints(1).set(0, "operator");
         list[1].setKind(orvik_capnp::RemoteAuthMethodKind::GUEST);
         list[1].setInteractive(true);
       }},
      {"auth_methods_empty", [](Root::Builder r) { r.initAuthMethods(0); }},
      {"session_started", [](Root::Builder r) {
         auto summary = r.initSessionStarted();
         summary.setSummaryValue(3);
         fill_session(summary.initSession());
       }},
      {"capset_list", [](Root::Builder r) {
         auto list = r.initCapsetList(2);
         fill_cap(list[0], "session");
         fill_cap(list[1], "system_info");
       }},
      {"cap_granted", [](Root::Builder r) { fill_cap(r.initCapGranted(), "session"); }},
      {"session_info", [](Root::Builder r) { fill_session(r.initSessionInfo()); }},
      {"system_motd", [](Root::Builder r) { r.setSystemMotd("Welcome to orvik."); }},
      {"chat_sent", [](Root::Builder r) { r.setChatSent(true); }},
      {"logged_out", [](Root::Builder r) { r.setLoggedOut(true); }},
      {"error", [](Root::Builder r) {
         auto error = r.initError();
         error.setCode(orvik_capnp::RemoteErrorCode::UNAUTHENTICATED);
         error.setMessage("log in \"first\"\n");
       }},
      {"service_catalog", [](Root::Builder r) { fill_service(r.initServiceCatalog(1)[0]); }},
      {"launcher_catalog", [](Root::Builder r) {
         auto entry = r.initLauncherCatalog(1)[0];
         entry.setText0("launcher");
         entry.setFlag1(true);
         auto grant = entry.initGrantRequirements(1)[0];
         grant.setText0("grant");
         grant.setValue(9);
         grant.setFlag(true);
         fill_service(entry.initServiceEntries(1)[0]);
         entry.initTextList(1).set(0, "t");
       }},
      {"service_launch", [](Root::Builder r) {
         auto status = r.initServiceLaunch();
         status.setText0("started");
         status.setFlag(true);
         status.initTextList(1).set(0, "x");
         fill_service(status.initServiceEntries(1)[0]);
       }},
      {"adventure_status", [](Root::Builder r) { r.setAdventureStatus("status"); }},
      {"adventure_look", [](Root::Builder r) { r.setAdventureLook("a room"); }},
      {"adventure_inventory", [](Root::Builder r) { r.setAdventureInventory("lamp"); }},
      {"adventure_go", [](Root::Builder r) { r.setAdventureGo("north"); }},
      {"chat_joined", [](Root::Builder r) { r.setChatJoined(true); }},
      {"chat_left", [](Root::Builder r) { r.setChatLeft(false); }},
      {"chat_poll_events", [](Root::Builder r) {
         auto events = r.initChatPollEvents().initEvents(2);
         events[0].setText0("#lobby");
         events[0].setText1("ann");
         events[0].setKind(orvik_capnp::RemoteChatEventKind::MESSAGE);
         events[0].setText2("hi");
         events[1].setKind(orvik_capnp::RemoteChatEventKind::JOINED);
       }},
      {"chat_who_members", [](Root::Builder r) {
         auto members = r.initChatWhoMembers().initMembers(2);
         members.set(0, "ann");
         members.set(1, "bob");
       }},
      {"adventure_take", [](Root::Builder r) { r.setAdventureTake("taken"); }},
      {"adventure_drop", [](Root::Builder r) { r.setAdventureDrop("dropped"); }},
      {"adventure_use", [](Root::Builder r) { r.setAdventureUse("used"); }},
  };
}

void put_le32(Bytes& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

Bytes framed(const Bytes& message) {
  const auto n = static_cast<std::uint32_t>(message.size());
  Bytes out = {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
               static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
  out.insert(out.end(), message.begin(), message.end());
  return out;
}

Bytes concat(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

bool write_file(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: seed_corpus OUT_DIR\n");
    return 2;
  }
  const fs::path out = argv[1];
  for (const char* target : {"decode_response", "read_frame", "frame_reader", "transact"}) {
    fs::create_directories(out / target);
  }

  // Hand-made shapes: an unknown arm (23), a data section of 32 bits, an
  // error answer with the wrong seq.
  Bytes unknown_arm = {0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0};
  put_le32(unknown_arm, kSeq);
  unknown_arm.insert(unknown_arm.end(), {23, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  Bytes short_data = {0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
  put_le32(short_data, kSeq);
  put_le32(short_data, 0);

  std::vector<std::pair<std::string, Bytes>> messages;
  for (const Seed& seed : seeds()) messages.emplace_back(seed.name, build(kSeq, seed.fill));
  messages.emplace_back("unknown_arm", unknown_arm);
  messages.emplace_back("short_data", short_data);
  messages.emplace_back("wrong_seq_error", build(kSeq + 1, [](Root::Builder r) {
                          r.initError().setMessage("late");
                        }));

  // Operation selectors of the transact fuzzer that expect each answer
  // (see transact_fuzzer.cpp); the rest get selector 0.
  std::uint8_t op = 0;
  bool ok = true;
  for (const auto& [name, message] : messages) {
    Bytes seq_prefix;
    put_le32(seq_prefix, kSeq);
    ok &= write_file(out / "decode_response" / name, concat(seq_prefix, message));
    // read_frame: no chunk schedule (0), then two frames back to back.
    const Bytes frame = framed(message);
    const Bytes two_frames = concat(concat(Bytes{0}, frame), frame);
    ok &= write_file(out / "read_frame" / name, two_frames);
    // frame_reader: the same, every read with the same limit, never trimmed.
    ok &= write_file(out / "frame_reader" / name, concat(Bytes{0}, two_frames));
    ok &= write_file(out / "transact" / name, concat(Bytes{op}, frame));
    op = static_cast<std::uint8_t>((op + 1) % 16);
  }
  // Drip-fed frame: a schedule of one-byte chunks.
  const Bytes drip = concat(Bytes{4, 1, 1, 1, 1}, framed(messages.front().second));
  ok &= write_file(out / "read_frame" / "drip", drip);
  ok &= write_file(out / "frame_reader" / "drip", concat(Bytes{0}, drip));
  // A first read limited to 16 bytes, then the client's limit and a trim
  // before every read: one buffer serves frames of both sizes.
  ok &= write_file(out / "frame_reader" / "limit_grows",
                   concat(concat(Bytes{0x0f, 0x40, 0, 0, 0, 2, 'o', 'k'}, framed(messages.front().second)),
                          framed(messages.front().second)));
  if (!ok) {
    std::fprintf(stderr, "seed_corpus: cannot write under %s: %s\n", out.c_str(), std::strerror(errno));
    return 1;
  }
  return 0;
}
