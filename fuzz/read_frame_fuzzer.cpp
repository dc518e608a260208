// read_frame over an arbitrary byte stream delivered in arbitrary chunks.
//
// Input: byte 0 holds the frame limit selector (high nibble: 0 is the
// client's 1 MiB, n is 2^n bytes) and the number k of chunk sizes (low
// nibble); bytes 1..k are the chunk sizes; the rest is the stream. A writer
// thread sends the stream through a socketpair, one scheduled chunk at a time
// (waiting until the reader has drained each, so each receive sees at most one
// chunk), then the rest at once, then closes its side. The reader reads
// frames until the first failure and checks each result against a plain
// parse of the same bytes.
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "error_texts.h"
#include "remote_session_client/frame.h"

namespace rsc = remote_session_client;

namespace {

constexpr std::size_t kClientLimit = 1'048'576;
constexpr std::string_view kEof = "frame I/O failed: failed to fill whole buffer";

bool send_all(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool unread_bytes(int fd) {
  int pending = 0;
  return ::ioctl(fd, FIONREAD, &pending) == 0 && pending > 0;
}

struct Delivery {
  std::vector<std::size_t> chunks;
  const std::uint8_t* stream;
  std::size_t size;
};

void deliver(int writer, int reader, const Delivery& delivery, const std::atomic<bool>& reader_done) {
  std::size_t at = 0;
  for (std::size_t chunk : delivery.chunks) {
    if (at == delivery.size) break;
    chunk = std::min(chunk, delivery.size - at);
    if (!send_all(writer, delivery.stream + at, chunk)) break;
    at += chunk;
    while (unread_bytes(reader) && !reader_done.load()) std::this_thread::yield();
  }
  if (at < delivery.size) send_all(writer, delivery.stream + at, delivery.size - at);
  ::shutdown(writer, SHUT_WR);
}

std::uint32_t load_be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// Reads frames until the first failure, checking each against the stream.
void read_all(int reader, const std::uint8_t* stream, std::size_t size, std::size_t limit) {
  std::size_t at = 0;
  for (;;) {
    auto frame = rsc::read_frame(reader, limit);
    const std::size_t left = size - at;
    if (left < 4) {
      if (frame || rsc::to_string(frame.error()) != kEof) orvik_fuzz::fail("a cut prefix was not an EOF");
      return;
    }
    const std::size_t length = load_be32(stream + at);
    if (length == 0) {
      if (frame || rsc::to_string(frame.error()) != "empty Cap'n Proto frame is invalid") {
        orvik_fuzz::fail("a zero prefix was not refused as empty");
      }
      return;
    }
    if (length > limit) {
      const std::string text = "Cap'n Proto frame length " + std::to_string(length) +
                               " exceeds limit " + std::to_string(limit);
      if (frame || rsc::to_string(frame.error()) != text) orvik_fuzz::fail("an oversized frame was not refused");
      return;
    }
    if (left - 4 < length) {
      if (frame || rsc::to_string(frame.error()) != kEof) orvik_fuzz::fail("a cut payload was not an EOF");
      return;
    }
    if (!frame) orvik_fuzz::fail(("a whole frame failed: " + rsc::to_string(frame.error())).c_str());
    if (frame->size() != length || std::memcmp(frame->data(), stream + at + 4, length) != 0) {
      orvik_fuzz::fail("a frame was reassembled wrongly");
    }
    at += 4 + length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return -1;
  const unsigned limit_shift = data[0] >> 4;
  const std::size_t limit = limit_shift == 0 ? kClientLimit : std::size_t{1} << limit_shift;
  const std::size_t chunk_count = std::min<std::size_t>(data[0] & 0x0f, size - 1);
  Delivery delivery;
  for (std::size_t i = 0; i < chunk_count; ++i) delivery.chunks.push_back(data[1 + i] == 0 ? 1 : data[1 + i]);
  delivery.stream = data + 1 + chunk_count;
  delivery.size = size - 1 - chunk_count;

  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) orvik_fuzz::fail("socketpair failed");
  const int reader = pair[0];
  const int writer = pair[1];
  std::atomic<bool> reader_done{false};
  std::thread writer_thread(deliver, writer, reader, std::cref(delivery), std::cref(reader_done));
  read_all(reader, delivery.stream, delivery.size, limit);
  reader_done = true;
  // A writer still blocked on a full socket (the reader stopped early) gets EPIPE.
  ::shutdown(reader, SHUT_RDWR);
  writer_thread.join();
  ::close(reader);
  ::close(writer);
  return 0;
}
