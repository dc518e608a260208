// A scripted stand-in for the session gateway: one thread, one listening
// socket on 127.0.0.1, one accepted connection. Each request frame it reads is
// recorded and answered by the next step of the script with whatever bytes
// that step returns (a framed response, a broken frame, or nothing at all).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "message_builders.h"
#include "remote_session_client/bytes.h"
#include "remote_session_client/config.h"
#include "remote_session_client/socket.h"

namespace remote_session_client::testing {

class TestGateway {
 public:
  // Bytes to write back for one request, given the request's seq; empty means
  // stay silent.
  using Step = std::function<Bytes(std::uint32_t request_seq)>;

  struct Options {
    std::uint16_t port = 0;  // 0: any free port
    std::chrono::milliseconds listen_after{0};  // start listening this late
  };

  explicit TestGateway(std::vector<Step> script) : TestGateway(std::move(script), Options{}) {}
  TestGateway(std::vector<Step> script, Options options);
  TestGateway(const TestGateway&) = delete;
  TestGateway& operator=(const TestGateway&) = delete;
  ~TestGateway();

  std::uint16_t port() const { return port_; }
  // A configuration for this gateway with short times, so a fault shows up as
  // a failure rather than a hang.
  ClientConfig config() const;
  // The payloads of the requests received so far, in order.
  std::vector<Bytes> requests() const;

 private:
  void run(std::vector<Step> script, std::chrono::milliseconds listen_after);
  bool read_exact(int fd, std::uint8_t* dest, std::size_t length);

  std::uint16_t port_ = 0;
  Socket listener_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<Bytes> requests_;
  std::jthread thread_;
};

// A payload behind its 4-byte big-endian length.
Bytes framed(const Bytes& payload);

// A step that answers with the response `fill` builds, carrying the request's
// seq plus `seq_offset`.
template <typename Fill>
TestGateway::Step answer(Fill fill, std::uint32_t seq_offset = 0) {
  return [fill, seq_offset](std::uint32_t seq) {
    return framed(rsc_test::response(seq + seq_offset, fill));
  };
}

// A step that writes `wire` as it is, whatever the request.
inline TestGateway::Step answer_raw(Bytes wire) {
  return [wire = std::move(wire)](std::uint32_t) { return wire; };
}

// A port on 127.0.0.1 that nothing listens on (bound once, then released).
std::uint16_t unused_port();

// The seq of a request payload.
std::uint32_t request_seq(const Bytes& payload);

}  // namespace remote_session_client::testing
