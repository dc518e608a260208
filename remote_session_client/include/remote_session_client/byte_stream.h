// The byte stream frames travel over, and the transport that opens it on a
// connected TCP socket: the plain socket itself, or a TLS session on it (the
// TLS layer, remote_session_client_tls). A caller that moves raw bytes (a
// tunnel) uses the same stream through open_stream (client.h).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>

#include "remote_session_client/bytes.h"
#include "remote_session_client/client_error.h"
#include "remote_session_client/config.h"
#include "remote_session_client/export.h"
#include "remote_session_client/io_error.h"
#include "remote_session_client/socket.h"

namespace remote_session_client {

using IoClock = std::chrono::steady_clock;

// A blocking byte stream whose every read and write waits at most the
// connection's io_timeout; a signal does not restart that wait, only what is
// left of it. A time-out is the error a socket's own time-out gives,
// "Resource temporarily unavailable (os error 11)".
class RSC_API ByteStream {
 public:
  ByteStream() = default;
  ByteStream(const ByteStream&) = delete;
  ByteStream& operator=(const ByteStream&) = delete;
  virtual ~ByteStream() = default;

  // Receives at least one byte and at most dest.size() (not empty); 0 means
  // the peer ended the stream (for TLS: close_notify, or the connection
  // closing without it).
  virtual std::expected<std::size_t, IoError> read_some(std::span<std::uint8_t> dest) = 0;

  // What has arrived, without waiting: as read_some, but with nothing to
  // read yet it fails at once with the time-out's error (EAGAIN), and the
  // stream stays usable. For a relay's poll loop: a TLS socket that polls
  // readable may carry no application data (a session ticket), where
  // read_some would wait out the io_timeout for some.
  virtual std::expected<std::size_t, IoError> read_ready(std::span<std::uint8_t> dest) = 0;

  // Sends the parts in order, as one piece where the transport can (one
  // sendmsg, one TLS record), so that Nagle's algorithm does not hold the
  // last part back; returns how many bytes left, at least one.
  virtual std::expected<std::size_t, IoError> write_some(std::span<const ByteView> parts) = 0;

  // All of `bytes`, or the error that stopped it.
  std::expected<void, IoError> write_all(ByteView bytes);

  // The socket, for poll(): readable when the peer sent something. TLS may
  // hold received bytes already (pending()) while the socket is not readable.
  virtual int fd() const = 0;
  // Bytes received and decoded but not yet read: 0 for the plain socket.
  virtual std::size_t pending() const = 0;
};

// What opens the stream on a socket that connected: each connection attempt
// calls open() once, within the attempt's io_timeout.
class RSC_API Transport {
 public:
  virtual ~Transport() = default;
  // `target` is host:port as connect formats it. An Io failure (the peer
  // closed, reset or stayed silent during a handshake) fails this address
  // like a refused connect, and is retried; a Tls failure (a handshake
  // refused on certificate or protocol grounds) ends connect at once.
  virtual std::expected<std::unique_ptr<ByteStream>, RemoteSessionClientError> open(
      Socket socket, const ClientConfig& config, const std::string& target) const = 0;
};

// The plain socket. It refuses a configuration that asks for TLS, which
// only the TLS layer can give (tls_transport() in tls.h), rather than send
// in clear what was meant to be encrypted.
RSC_API const Transport& plain_transport();

// The stream over a socket that is already connected, for the frame
// functions that take a descriptor; the descriptor stays the caller's.
RSC_API std::unique_ptr<ByteStream> borrow_socket(int fd);

// For ByteStream implementations: the instant `span` from now (saturating),
// and a wait until `fd` is ready for poll's `events` or `deadline` passed
// (then EAGAIN, the text of a socket's time-out). Signals resume the wait
// with what is left.
RSC_API IoClock::time_point io_deadline(Duration span);
RSC_API std::expected<void, IoError> wait_ready(int fd, short events, IoClock::time_point deadline);

}  // namespace remote_session_client
