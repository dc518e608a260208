// The plain transport: frames straight on the TCP socket.
#pragma once

#include "remote_session_client/byte_stream.h"

namespace remote_session_client {

// A blocking socket whose SO_RCVTIMEO and SO_SNDTIMEO bound each receive
// and send. An interrupted call resumes within what is left of that time-out.
class SocketStream final : public ByteStream {
 public:
  // Owns the socket, and closes it when destroyed.
  explicit SocketStream(Socket socket) : socket_(std::move(socket)), fd_(socket_.fd()) {}
  // Borrows a descriptor that stays the caller's.
  explicit SocketStream(int fd) : fd_(fd) {}

  std::expected<std::size_t, IoError> read_some(std::span<std::uint8_t> dest) override;
  std::expected<std::size_t, IoError> read_ready(std::span<std::uint8_t> dest) override;
  std::expected<std::size_t, IoError> write_some(std::span<const ByteView> parts) override;
  int fd() const override { return fd_; }
  std::size_t pending() const override { return 0; }

 private:
  Socket socket_;
  int fd_;
};

}  // namespace remote_session_client
