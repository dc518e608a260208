// The harness of the frame fuzzers: an arbitrary byte stream delivered to a
// reader in arbitrary chunks, and every read checked against a plain parse
// of the same bytes.
//
// Stream input: byte 0 holds the frame limit selector (high nibble: 0 is the
// client's 1 MiB, n is 2^n bytes) and the number k of chunk sizes (low
// nibble); bytes 1..k are the chunk sizes; the rest is the stream. A writer
// thread sends the stream through a socketpair, one scheduled chunk at a time
// (waiting until the reader has drained each, so each receive sees at most one
// chunk), then the rest at once, then closes its side. The reader reads
// frames until the stream ends or fails; a refused prefix consumes its 4
// bytes and reading goes on with what followed it, as on a real stream.
#pragma once

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "error_texts.h"
#include "remote_session_client/frame.h"

namespace orvik_fuzz {

namespace rsc = remote_session_client;

inline std::size_t frame_limit(unsigned selector) {
  constexpr std::size_t kClientLimit = 1'048'576;
  return selector == 0 ? kClientLimit : std::size_t{1} << selector;
}

struct ChunkedStream {
  std::size_t limit;
  std::vector<std::size_t> chunks;
  const std::uint8_t* bytes;
  std::size_t size;
};

inline std::optional<ChunkedStream> parse_stream(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return std::nullopt;
  ChunkedStream stream{frame_limit(data[0] >> 4), {}, nullptr, 0};
  const std::size_t chunk_count = std::min<std::size_t>(data[0] & 0x0f, size - 1);
  for (std::size_t i = 0; i < chunk_count; ++i) stream.chunks.push_back(data[1 + i] == 0 ? 1 : data[1 + i]);
  stream.bytes = data + 1 + chunk_count;
  stream.size = size - 1 - chunk_count;
  return stream;
}

namespace detail {

inline bool send_all(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

inline bool unread_bytes(int fd) {
  int pending = 0;
  return ::ioctl(fd, FIONREAD, &pending) == 0 && pending > 0;
}

inline void deliver(int writer, int reader, const ChunkedStream& stream, const std::atomic<bool>& reader_done) {
  std::size_t at = 0;
  for (std::size_t chunk : stream.chunks) {
    if (at == stream.size) break;
    chunk = std::min(chunk, stream.size - at);
    if (!send_all(writer, stream.bytes + at, chunk)) break;
    at += chunk;
    while (unread_bytes(reader) && !reader_done.load()) std::this_thread::yield();
  }
  if (at < stream.size) send_all(writer, stream.bytes + at, stream.size - at);
  ::shutdown(writer, SHUT_WR);
}

inline std::uint32_t load_be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

inline void expect_failure(const std::expected<rsc::ByteView, rsc::FrameError>& frame, std::string_view text,
                           const char* what) {
  if (frame || rsc::to_string(frame.error()) != text) fail(what);
}

// Reads frames until the stream ends, checking each read against the plain
// parse. `read_one(fd, limit, index)` is the reader under test.
template <typename LimitOf, typename ReadOne>
void read_all(int fd, const ChunkedStream& stream, LimitOf limit_of, ReadOne read_one) {
  constexpr std::string_view kEof = "frame I/O failed: failed to fill whole buffer";
  std::size_t at = 0;
  for (std::size_t index = 0;; ++index) {
    const std::size_t limit = limit_of(index);
    const std::expected<rsc::ByteView, rsc::FrameError> frame = read_one(fd, limit, index);
    const std::size_t left = stream.size - at;
    if (left < 4) return expect_failure(frame, kEof, "a cut prefix was not an EOF");
    const std::size_t length = load_be32(stream.bytes + at);
    if (length == 0) {
      expect_failure(frame, "empty Cap'n Proto frame is invalid", "a zero prefix was not refused as empty");
      at += 4;
      continue;
    }
    if (length > limit) {
      const std::string text = "Cap'n Proto frame length " + std::to_string(length) + " exceeds limit " +
                               std::to_string(limit);
      expect_failure(frame, text, "an oversized frame was not refused");
      at += 4;
      continue;
    }
    if (left - 4 < length) return expect_failure(frame, kEof, "a cut payload was not an EOF");
    if (!frame) fail(("a whole frame failed: " + rsc::to_string(frame.error())).c_str());
    if (frame->size() != length || std::memcmp(frame->data(), stream.bytes + at + 4, length) != 0) {
      fail("a frame was reassembled wrongly");
    }
    at += 4 + length;
  }
}

}  // namespace detail

// Delivers `stream` to `read_one` (see read_all) over a socketpair.
template <typename LimitOf, typename ReadOne>
void check_reader(const ChunkedStream& stream, LimitOf limit_of, ReadOne read_one) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) fail("socketpair failed");
  const int reader = pair[0];
  const int writer = pair[1];
  std::atomic<bool> reader_done{false};
  std::thread writer_thread(detail::deliver, writer, reader, std::cref(stream), std::cref(reader_done));
  detail::read_all(reader, stream, limit_of, read_one);
  reader_done = true;
  // A writer still blocked on a full socket (the reader stopped early) gets EPIPE.
  ::shutdown(reader, SHUT_RDWR);
  writer_thread.join();
  ::close(reader);
  ::close(writer);
}

}  // namespace orvik_fuzz
