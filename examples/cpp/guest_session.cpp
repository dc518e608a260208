// A guest's tour of a gateway on the installed C++ library: connect, list the
// authentication methods, log in as a guest, list the CapSet, then print the
// transcript the client kept of it all.
//
//   guest_session [HOST [PORT]]      (default 127.0.0.1 2327)
//
// Exits 0 after the tour, 1 if any step fails (its text on stderr), 2 on a
// bad command line.
#include <charconv>
#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "remote_session_client/client.h"
#include "remote_session_client/text.h"

namespace rsc = remote_session_client;

namespace {

std::string joined(const auto& items) {
  std::string out;
  for (const auto& item : items) out += (out.empty() ? "" : ",") + std::string(item);
  return out;
}

// One line per transcript event: its name, then its fields.
void print_event(std::ostream& out, const rsc::TranscriptEvent& event) {
  namespace ev = rsc::event;
  std::visit(
      [&out](const auto& e) {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, ev::Connect>) out << "connect " << e.target;
        else if constexpr (std::is_same_v<E, ev::Connected>) out << "connected " << e.peer;
        else if constexpr (std::is_same_v<E, ev::Request>) out << "request " << e.seq << ' ' << e.label;
        else if constexpr (std::is_same_v<E, ev::Response>) out << "response " << e.seq << ' ' << e.label;
        else if constexpr (std::is_same_v<E, ev::AuthMethods>)
          out << "auth methods enabled=" << joined(e.enabled_kinds) << " count=" << e.count;
        else if constexpr (std::is_same_v<E, ev::SessionStarted>)
          out << "session started profile=" << e.profile << " principal=" << e.principal
              << " summary=" << e.summary_value;
        else if constexpr (std::is_same_v<E, ev::CapsetList>)
          out << "capset list " << joined(e.entries.texts()) << " count=" << e.count;
        else if constexpr (std::is_same_v<E, ev::CapGranted>)
          out << "cap granted " << e.name << ':' << rsc::hex_u64_padded(e.interface_id);
        else if constexpr (std::is_same_v<E, ev::SessionInfo>)
          out << "session info profile=" << e.profile << " principal=" << e.principal << " auth=" << e.auth_strength;
        else if constexpr (std::is_same_v<E, ev::SystemMotd>) out << "system motd " << e.text;
        else if constexpr (std::is_same_v<E, ev::Denied>)
          out << "denied " << e.seq << " code=" << e.code << " message=" << e.message;
        else out << "note " << e.text;
      },
      event);
  out << '\n';
}

// A failed step: its text on stderr, exit status 1.
int failed(std::string_view step, const std::string& text) {
  std::cerr << "guest_session: " << step << ": " << text << '\n';
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  rsc::ClientConfig config;
  config.connect_deadline = rsc::Duration::from_secs(10);
  config.io_timeout = rsc::Duration::from_secs(10);
  if (argc > 3) {
    std::cerr << "usage: guest_session [HOST [PORT]]\n";
    return 2;
  }
  if (argc > 1) config.host = argv[1];
  if (argc > 2) {
    const std::string_view text = argv[2];
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), config.port);
    if (error != std::errc() || end != text.data() + text.size() || config.port == 0) {
      std::cerr << "guest_session: not a port: " << text << '\n';
      return 2;
    }
  }

  auto client = rsc::connect(std::move(config));
  if (!client) return failed("connect", rsc::to_string(client.error()));

  auto methods = client->list_auth_methods();
  if (!methods) return failed("list_auth_methods", rsc::to_string(methods.error()));
  for (const auto& method : *methods)
    std::cout << "method " << method.kind << " enabled=" << (method.enabled ? "yes" : "no")
              << " profiles=" << joined(method.profile_hints) << '\n';

  auto session = client->login(rsc::auth::Guest{"operator"});
  if (!session) return failed("login", rsc::to_string(session.error()));
  std::cout << "logged in as " << rsc::principal_label(session->summary) << " with profile "
            << session->summary.profile << '\n';

  auto capset = client->list_capset();
  if (!capset) return failed("list_capset", rsc::to_string(capset.error()));
  for (const auto& cap : *capset)
    std::cout << "cap " << cap.name << ' ' << rsc::hex_u64_padded(cap.interface_id) << ' ' << cap.transfer_policy
              << '\n';

  std::cout << "transcript:\n";
  for (const auto& event : client->transcript().events()) print_event(std::cout << "  ", event);
  return 0;
}
