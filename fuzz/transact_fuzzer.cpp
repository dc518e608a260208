// A client operation against a gateway that answers with the fuzz input.
//
// Input: byte 0 picks the operation (low nibble); the rest is what the
// gateway sends, byte for byte, before closing its side: normally one frame
// answering seq 1, the first request of a fresh client. A second exchange
// follows on whatever the first left of the stream, and must be refused
// unsent exactly when the first left the client out of step, as it must
// after a refused frame length. Each run connects a
// fresh client over loopback TCP to a listener kept for the whole run; the
// answer is queued before the client sends, so no gateway thread is needed
// unless the answer is larger than the socket buffer.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <thread>
#include <variant>

#include "error_texts.h"
#include "remote_session_client/client.h"

namespace rsc = remote_session_client;

namespace {

class Listener {
 public:
  Listener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_, 8) != 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      orvik_fuzz::fail("cannot listen on loopback");
    }
    port_ = ntohs(address.sin_port);
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  ~Listener() { ::close(fd_); }

  std::uint16_t port() const { return port_; }
  int accept_one() const {
    const int peer = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (peer < 0) orvik_fuzz::fail("accept failed");
    return peer;
  }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

void send_answer(int peer, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(peer, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) break;  // the client gave up reading
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  ::shutdown(peer, SHUT_WR);
}

using E = rsc::RemoteSessionClientError;

// Whether the call failed because its answer's length was refused.
template <typename T>
bool check(const rsc::ClientResult<T>& result) {
  if (result) return false;
  orvik_fuzz::expect_text(rsc::to_string(result.error()), orvik_fuzz::kClientOpenings);
  const auto* frame = std::get_if<E::Frame>(&result.error().value);
  return frame != nullptr && std::holds_alternative<rsc::FrameError::TooLarge>(frame->error.value);
}

bool run_operation(rsc::RemoteSessionClient& client, unsigned op) {
  switch (op) {
    case 0: return check(client.list_auth_methods());
    case 1: return check(client.login(rsc::auth::Guest{"operator"}));
    case 2: return check(client.list_capset());
    case 3: return check(client.get_capset_entry("session", 0x80b87169c39aaf1cULL));
    case 4: return check(client.session_info());
    case 5: return check(client.system_motd());
    case 6: return check(client.logout());
    case 7: return check(client.login(rsc::auth::Anonymous{"operator"}));
    default: {
      // The exchanges no operation sends go through transact itself.
      static const rsc::RequestKind kRequests[] = {
          rsc::request::ServiceCatalog{}, rsc::request::LauncherCatalog{},
          rsc::request::ServiceLaunch{"p", {"g"}}, rsc::request::ChatPoll{5},
          rsc::request::ChatWho{"#lobby"}, rsc::request::AdventureLook{},
          rsc::request::AdventureTake{"Lamp"}, rsc::request::ChatSend{"#lobby", "hi"}};
      return check(client.transact(kRequests[op - 8]));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return -1;
  static const Listener listener;

  rsc::ClientConfig config;
  config.port = listener.port();
  config.io_timeout = rsc::Duration::from_secs(5);
  config.connect_deadline = rsc::Duration::from_secs(5);
  auto client = rsc::connect(std::move(config));
  if (!client) orvik_fuzz::fail(("cannot connect: " + rsc::to_string(client.error())).c_str());
  const int peer = listener.accept_one();

  std::thread gateway(send_answer, peer, data + 1, size - 1);
  const bool refused_length = run_operation(*client, data[0] & 0x0f);
  const bool in_step = client->in_step();
  if (refused_length && in_step) orvik_fuzz::fail("a refused frame length left the client in step");
  const std::uint32_t next_seq = client->next_seq();
  const bool out_of_step = [&] {
    auto second = client->transact(rsc::request::SystemMotd{});
    static_cast<void>(check(second));
    return !second && std::holds_alternative<E::OutOfStep>(second.error().value);
  }();
  if (out_of_step == in_step) orvik_fuzz::fail("the second exchange disagreed with in_step()");
  if (out_of_step && client->next_seq() != next_seq) orvik_fuzz::fail("a refused exchange spent a number");
  // Unblocks a gateway still sending into a client that stopped reading.
  ::shutdown(peer, SHUT_RDWR);
  gateway.join();
  // A reset rather than an orderly close: no TIME_WAIT piles up over a run.
  const linger reset{1, 0};
  ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(peer);
  return 0;
}
