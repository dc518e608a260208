// The socket BIO of the TLS layer: recv and send on a non-blocking socket,
// never raising SIGPIPE.
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>

#include "openssl_handles.h"

namespace remote_session_client::tls_detail {

namespace {

int fd_of(BIO* bio) { return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio))); }

// Would-block and interruption ask OpenSSL to call again; the stream then
// waits on poll() within its deadline.
bool retryable(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

int read_ex(BIO* bio, char* data, std::size_t length, std::size_t* got) {
  BIO_clear_retry_flags(bio);
  const ssize_t n = ::recv(fd_of(bio), data, length, 0);
  if (n >= 0) {
    *got = static_cast<std::size_t>(n);
    // 0 bytes is the peer's end of stream; OpenSSL tells it from a retry by the flags.
    return n > 0 ? 1 : 0;
  }
  if (retryable(errno)) BIO_set_retry_read(bio);
  return 0;
}

int write_ex(BIO* bio, const char* data, std::size_t length, std::size_t* sent) {
  BIO_clear_retry_flags(bio);
  const ssize_t n = ::send(fd_of(bio), data, length, MSG_NOSIGNAL);
  if (n >= 0) {
    *sent = static_cast<std::size_t>(n);
    return 1;
  }
  if (retryable(errno)) BIO_set_retry_write(bio);
  return 0;
}

long control(BIO*, int command, long, void*) {
  // Sends go straight to the socket: there is nothing to flush.
  return command == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO_METHOD* make_method() {
  BIO_METHOD* method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "orvik socket");
  if (method == nullptr) return nullptr;
  BIO_meth_set_read_ex(method, read_ex);
  BIO_meth_set_write_ex(method, write_ex);
  BIO_meth_set_ctrl(method, control);
  return method;
}

}  // namespace

BIO* socket_bio(int fd) {
  // Made once and kept for the life of the process, as OpenSSL's own are.
  static BIO_METHOD* const method = make_method();
  if (method == nullptr) return nullptr;
  BIO* bio = BIO_new(method);
  if (bio == nullptr) return nullptr;
  BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)));
  BIO_set_init(bio, 1);
  return bio;
}

}  // namespace remote_session_client::tls_detail
