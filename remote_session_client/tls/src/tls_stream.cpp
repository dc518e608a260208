#include "tls_stream.h"

namespace remote_session_client::tls_detail {

TlsStream::~TlsStream() {
  if (session_ && !broken_ && owner_.is_current()) {
    // One try on the non-blocking socket; the peer's reply is not awaited.
    ERR_clear_error();
    SSL_shutdown(session_.get());
    ERR_clear_error();
  }
}

std::expected<void, IoError> TlsStream::usable() const {
  if (broken_) return std::unexpected(IoError::tls("the session broke on an earlier failure"));
  return {};
}

std::size_t TlsStream::pending() const {
  const int held = SSL_pending(session_.get());
  return held > 0 ? static_cast<std::size_t>(held) : 0;
}

std::expected<std::size_t, IoError> TlsStream::read_some(std::span<std::uint8_t> dest) {
  return read_until(dest, io_deadline(io_timeout_));
}

// With the deadline now, OpenSSL takes in what the socket holds and waits
// for nothing more.
std::expected<std::size_t, IoError> TlsStream::read_ready(std::span<std::uint8_t> dest) {
  return read_until(dest, IoClock::now());
}

std::expected<std::size_t, IoError> TlsStream::read_until(std::span<std::uint8_t> dest, IoClock::time_point deadline) {
  if (auto ok = usable(); !ok) return std::unexpected(std::move(ok.error()));
  std::size_t got = 0;
  auto read = drive(session_.get(), fd(), deadline,
                    [&] { return SSL_read_ex(session_.get(), dest.data(), dest.size(), &got); });
  if (read) return got;
  switch (read.error().code) {
    case SSL_ERROR_ZERO_RETURN:  // close_notify, or (as configured) a close without it
      return 0;
    case SSL_ERROR_WANT_READ:  // a time-out: the session stays usable
    case SSL_ERROR_WANT_WRITE:
      break;
    default:
      broken_ = true;
  }
  return std::unexpected(std::move(read.error().error));
}

std::expected<std::size_t, IoError> TlsStream::write_some(std::span<const ByteView> parts) {
  if (auto ok = usable(); !ok) return std::unexpected(std::move(ok.error()));
  record_.clear();
  for (const ByteView& part : parts) record_.insert(record_.end(), part.begin(), part.end());
  std::size_t sent = 0;
  auto written = drive(session_.get(), fd(), io_deadline(io_timeout_),
                       [&] { return SSL_write_ex(session_.get(), record_.data(), record_.size(), &sent); });
  if (written) return sent;
  // A write given up partway cannot be resumed with other bytes: the
  // session is over, time-out or not.
  broken_ = true;
  return std::unexpected(std::move(written.error().error));
}

}  // namespace remote_session_client::tls_detail
