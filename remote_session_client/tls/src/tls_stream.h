// TlsStream: a TLS session on a connected, non-blocking socket, as the
// stream frames travel over. Every call waits on poll() within its own
// io_timeout, so that a signal resumes what is left of the wait.
#pragma once

#include <poll.h>

#include <cerrno>
#include <expected>
#include <optional>
#include <vector>

#include <openssl/err.h>

#include "openssl_handles.h"
#include "remote_session_client/byte_stream.h"
#include "remote_session_client/owner_process.h"

namespace remote_session_client::tls_detail {

// Why an SSL call did not complete: OpenSSL's SSL_get_error() code
// (SSL_ERROR_ZERO_RETURN for every end of stream), and the
// I/O error that goes with it (the wait's time-out, the socket's error, or
// OpenSSL's reason for SSL_ERROR_SSL).
struct SslFailure {
  int code;
  IoError error;
};

// Calls `call` (an SSL_* function returning 1 on success) until it succeeds
// or fails other than by wanting the socket, waiting for the socket as
// OpenSSL asks until `deadline`. A time-out is EAGAIN, the text of a
// socket's own time-out.
template <typename Call>
std::expected<void, SslFailure> drive(SSL* session, int fd, IoClock::time_point deadline, Call&& call) {
  for (;;) {
    ERR_clear_error();
    errno = 0;
    const int rc = call();
    if (rc == 1) return {};
    const int code = SSL_get_error(session, rc);
    if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE) {
      const short events = code == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
      if (auto ready = wait_ready(fd, events, deadline); !ready) {
        return std::unexpected(SslFailure{code, std::move(ready.error())});
      }
      continue;
    }
    if (code == SSL_ERROR_SYSCALL && errno != 0) {
      const int os_error = errno;
      ERR_clear_error();
      return std::unexpected(SslFailure{code, IoError::os(os_error)});
    }
    if (code == SSL_ERROR_SSL) {
      // The peer closing without close_notify is an end of stream too.
      const unsigned long error = ERR_peek_last_error();
      const bool eof = ERR_GET_LIB(error) == ERR_LIB_SSL && ERR_GET_REASON(error) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
      return std::unexpected(
          SslFailure{eof ? SSL_ERROR_ZERO_RETURN : code, IoError::tls(failure_reason(session))});
    }
    // The peer ended the stream (close_notify, or a close OpenSSL was told
    // to take as one); SSL_ERROR_SYSCALL without errno is such a close too.
    ERR_clear_error();
    return std::unexpected(SslFailure{SSL_ERROR_ZERO_RETURN, IoError::made(IoError::Kind::UnexpectedEof)});
  }
}

class TlsStream final : public ByteStream {
 public:
  // `session` has completed its handshake on `socket`.
  TlsStream(Socket socket, SslSession session, Duration io_timeout)
      : socket_(std::move(socket)), session_(std::move(session)), io_timeout_(io_timeout) {}
  // Says close_notify, without waiting for the peer's, unless the session
  // broke or this is not the process that opened it: a child made by fork()
  // must not write on its parent's session.
  ~TlsStream() override;

  std::expected<std::size_t, IoError> read_some(std::span<std::uint8_t> dest) override;
  std::expected<std::size_t, IoError> read_ready(std::span<std::uint8_t> dest) override;
  std::expected<std::size_t, IoError> write_some(std::span<const ByteView> parts) override;
  int fd() const override { return socket_.fd(); }
  std::size_t pending() const override;

 private:
  // After a failure that leaves the session unusable (a fatal TLS error, a
  // write given up partway), every later call fails at once.
  std::expected<void, IoError> usable() const;
  // read_some and read_ready: a read whose waits end at `deadline`.
  std::expected<std::size_t, IoError> read_until(std::span<std::uint8_t> dest, IoClock::time_point deadline);

  Socket socket_;
  SslSession session_;  // declared after the socket: freed before it closes
  Duration io_timeout_;
  OwnerProcess owner_;
  bool broken_ = false;
  // A frame's parts are copied here and sealed in one record: two records
  // would be two sends, and Nagle's algorithm would hold the second back.
  std::vector<std::uint8_t> record_;
};

}  // namespace remote_session_client::tls_detail
