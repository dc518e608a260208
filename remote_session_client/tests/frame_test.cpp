// Frame transport over socket pairs and a loopback TCP connection.
#include "remote_session_client/frame.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "remote_session_client/socket.h"

namespace remote_session_client {
namespace {

// Both ends with short receive and send time-outs, so a broken test fails
// instead of hanging.
std::pair<Socket, Socket> stream_pair() {
  int fds[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  timeval tv{2, 0};
  for (int fd : fds) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  }
  return {Socket(fds[0]), Socket(fds[1])};
}

void send_all(int fd, ByteView bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    ASSERT_GT(n, 0);
    done += static_cast<std::size_t>(n);
  }
}

// Whatever is waiting on `fd` right now, without blocking.
Bytes drain(int fd) {
  Bytes out;
  std::uint8_t buf[4096];
  for (;;) {
    const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n <= 0) return out;
    out.insert(out.end(), buf, buf + n);
  }
}

Bytes recv_exact(int fd, std::size_t n) {
  Bytes out(n);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = ::recv(fd, out.data() + done, n - done, 0);
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  out.resize(done);
  return out;
}

std::string error_text(const auto& result) { return to_string(result.error()); }

TEST(WriteFrame, PrefixIsBigEndianLength) {
  struct Case { std::size_t size; Bytes prefix; };
  for (const auto& c : {Case{1, {0, 0, 0, 1}}, Case{300, {0, 0, 1, 0x2c}},
                        Case{0x01020304 & 0xffff, {0, 0, 0x03, 0x04}}}) {
    auto [a, b] = stream_pair();
    Bytes payload(c.size);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7);
    std::jthread reader;
    Bytes wire;
    reader = std::jthread([&, fd = b.fd()] { wire = recv_exact(fd, 4 + c.size); });
    ASSERT_TRUE(write_frame(a.fd(), payload));
    reader.join();
    ASSERT_EQ(wire.size(), 4 + c.size);
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 4), c.prefix) << c.size;
    EXPECT_EQ(Bytes(wire.begin() + 4, wire.end()), payload);
  }
}

TEST(WriteFrame, LargePayloadSurvivesPartialSends) {
  // Far beyond the socket buffer, so sendmsg returns short counts that must
  // be resumed mid-payload.
  auto [a, b] = stream_pair();
  Bytes payload(4 << 20);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 31 + (i >> 12));
  std::expected<Bytes, FrameError> got;
  std::jthread reader([&, fd = b.fd()] { got = read_frame(fd, payload.size()); });
  ASSERT_TRUE(write_frame(a.fd(), payload));
  reader.join();
  ASSERT_TRUE(got) << error_text(got);
  EXPECT_TRUE(*got == payload);
}

TEST(WriteFrame, EmptyPayloadIsRefusedAndNothingSent) {
  auto [a, b] = stream_pair();
  auto result = write_frame(a.fd(), ByteView{});
  ASSERT_FALSE(result);
  EXPECT_EQ(error_text(result), "empty Cap'n Proto frame is invalid");
  EXPECT_TRUE(drain(b.fd()).empty());
}

TEST(WriteFrame, PayloadBeyondU32IsRefusedBeforeTouchingIt) {
  // A 4 GiB reservation that is never made readable: should write_frame look
  // at a single byte, the test dies instead of passing.
  const std::size_t size = std::size_t{1} << 32;
  void* region = ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (region == MAP_FAILED) GTEST_SKIP() << "cannot reserve 4 GiB of address space";
  auto [a, b] = stream_pair();
  auto result = write_frame(a.fd(), ByteView(static_cast<const std::uint8_t*>(region), size));
  ::munmap(region, size);
  ASSERT_FALSE(result);
  EXPECT_EQ(error_text(result), "Cap'n Proto frame length 4294967296 does not fit in u32");
  EXPECT_TRUE(drain(b.fd()).empty());
}

TEST(WriteFrame, ClosedPeerIsAnErrorNotASignal) {
  auto [a, b] = stream_pair();
  b.reset();
  const Bytes payload{1, 2, 3};
  auto result = write_frame(a.fd(), payload);
  ASSERT_FALSE(result);
  EXPECT_EQ(error_text(result), "frame I/O failed: Broken pipe (os error 32)");
}

// The peer reads a frame cut partway as the start of a longer one; one that
// failed before its first byte leaves nothing behind.
TEST(WriteFrame, SaysWhetherItStoppedInsideTheFrame) {
  {
    auto [a, b] = stream_pair();
    timeval short_wait{0, 20'000};
    ::setsockopt(a.fd(), SOL_SOCKET, SO_SNDTIMEO, &short_wait, sizeof short_wait);
    // Nobody reads: the socket buffers take part of the frame, then the send times out.
    const Bytes payload(8 << 20, 'x');
    auto written = write_frame(a.fd(), payload);
    ASSERT_FALSE(written);
    EXPECT_TRUE(written.error().inside_frame);
  }
  auto [a, b] = stream_pair();
  b.reset();
  auto written = write_frame(a.fd(), Bytes{1});
  ASSERT_FALSE(written);
  EXPECT_FALSE(written.error().inside_frame);
}

TEST(ReadFrame, RefusesBadPrefixes) {
  struct Case { Bytes wire; std::size_t limit; std::string text; Bytes left_unread; };
  const Case cases[] = {
      {{0, 0, 0, 0}, 1048576, "empty Cap'n Proto frame is invalid", {}},
      {{0, 0x10, 0, 1, 'x', 'y'}, 1048576,
       "Cap'n Proto frame length 1048577 exceeds limit 1048576", {'x', 'y'}},
      {{0xff, 0xff, 0xff, 0xff, 'z'}, 16, "Cap'n Proto frame length 4294967295 exceeds limit 16", {'z'}},
      {{0, 0}, 1048576, "frame I/O failed: failed to fill whole buffer", {}},
      {{0, 0, 0, 5, 'a', 'b'}, 1048576, "frame I/O failed: failed to fill whole buffer", {}},
  };
  for (const auto& c : cases) {
    auto [a, b] = stream_pair();
    send_all(a.fd(), c.wire);
    a.reset();  // the peer goes away after what it sent
    auto result = read_frame(b.fd(), c.limit);
    ASSERT_FALSE(result);
    EXPECT_EQ(error_text(result), c.text);
    // A refused length leaves the payload on the stream, unread.
    EXPECT_EQ(drain(b.fd()), c.left_unread) << c.text;
  }
}

TEST(ReadFrame, LengthEqualToLimitIsAccepted) {
  auto [a, b] = stream_pair();
  Bytes wire{0, 0x10, 0, 0};
  wire.resize(4 + 1048576, 0xab);
  std::jthread writer([&, fd = a.fd()] { send_all(fd, wire); });
  auto result = read_frame(b.fd(), 1048576);
  writer.join();
  ASSERT_TRUE(result) << error_text(result);
  EXPECT_EQ(result->size(), 1048576u);
  EXPECT_EQ(result->front(), 0xab);
  EXPECT_EQ(result->back(), 0xab);
}

TEST(ReadFrame, ReassemblesOneBytePerReceive) {
  auto [a, b] = stream_pair();
  const Bytes wire{0, 0, 0, 3, 'a', 'b', 'c', 0, 0, 0, 1, 'd'};
  std::jthread writer([&, fd = a.fd()] {
    for (std::uint8_t byte : wire) {
      send_all(fd, ByteView(&byte, 1));
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  auto first = read_frame(b.fd(), 64);
  auto second = read_frame(b.fd(), 64);
  writer.join();
  ASSERT_TRUE(first) << error_text(first);
  ASSERT_TRUE(second) << error_text(second);
  EXPECT_EQ(*first, (Bytes{'a', 'b', 'c'}));
  EXPECT_EQ(*second, (Bytes{'d'}));
}

TEST(ReadFrame, ReadTimeOutIsTheSystemsError) {
  auto [a, b] = stream_pair();
  timeval tv{0, 20'000};
  ::setsockopt(b.fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  auto result = read_frame(b.fd(), 64);
  ASSERT_FALSE(result);
  EXPECT_EQ(error_text(result), "frame I/O failed: Resource temporarily unavailable (os error 11)");
}

// ------------------------------------------------------------- FrameReader

std::string hex(ByteView bytes) {
  std::string out;
  for (std::uint8_t b : bytes) out += "0123456789abcdef"[b >> 4], out += "0123456789abcdef"[b & 15];
  return out;
}

// What a reader makes of a stream that delivers `parts` and then closes: one
// line per frame or error. Between two parts, one read runs into the receive
// time-out, so a frame can be cut off mid-prefix or mid-payload.
template <typename ReadOne>
std::vector<std::string> outcomes(const std::vector<Bytes>& parts, ReadOne read_one) {
  auto [a, b] = stream_pair();
  timeval short_wait{0, 20'000};
  ::setsockopt(b.fd(), SOL_SOCKET, SO_RCVTIMEO, &short_wait, sizeof short_wait);
  std::vector<std::string> seen;
  auto read_into_seen = [&] {
    auto frame = read_one(b.fd());
    seen.push_back(frame ? "frame " + hex(*frame) : error_text(frame));
    return frame || !std::holds_alternative<FrameError::Io>(frame.error().value);
  };
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) read_into_seen();
    send_all(a.fd(), parts[i]);
  }
  a.reset();
  while (read_into_seen()) {}
  return seen;
}

// The reader reports what read_frame reports on the same stream, frame by
// frame and error by error, whatever it buffered: a refused prefix consumes
// exactly its 4 bytes, a failed receive loses the frame's bytes so far, and
// the peer going away mid-prefix or mid-payload is the same end-of-file error.
TEST(FrameReader, SeesTheStreamAsReadFrameDoes) {
  constexpr std::size_t kLimit = 16;
  Bytes wire{0, 0, 0, 0, 0, 0, 0, 17, 0, 0, 0, 3, 'a', 'b', 'c', 0, 0, 0, 16};
  for (int i = 0; i < 16; ++i) wire.push_back(static_cast<std::uint8_t>(0xa0 + i));
  const std::vector<Bytes> scripts[] = {
      {wire, {0, 0}},
      {wire, {0, 0, 0, 5, 'x', 'y'}},
      {wire},
      {{0, 0, 0, 5, 'a'}, {'b', 'c', 'd', 'e', 0, 0, 0, 1, 'z'}},
      {{0, 0}, {0, 1, 'a', 0, 0, 0, 1, 'z'}},
  };
  for (const auto& parts : scripts) {
    const auto expected = outcomes(parts, [](int fd) { return read_frame(fd, kLimit); });
    FrameReader reader;
    const auto got = outcomes(parts, [&reader](int fd) -> std::expected<Bytes, FrameError> {
      auto view = reader.read(fd, kLimit);
      if (!view) return std::unexpected(view.error());
      return Bytes(view->begin(), view->end());
    });
    EXPECT_EQ(got, expected) << hex(parts.front());
    EXPECT_EQ(expected.back(), "frame I/O failed: failed to fill whole buffer");
  }
  const auto first = outcomes(scripts[0], [](int fd) { return read_frame(fd, kLimit); });
  ASSERT_EQ(first.size(), 5u);
  EXPECT_EQ(first[0], "empty Cap'n Proto frame is invalid");
  EXPECT_EQ(first[1], "Cap'n Proto frame length 17 exceeds limit 16");
  // What followed the refused prefix is read as the next frame.
  EXPECT_EQ(first[2], "frame 616263");
  EXPECT_EQ(first[3], "frame a0a1a2a3a4a5a6a7a8a9aaabacadaeaf");
  const auto cut = outcomes(scripts[3], [](int fd) { return read_frame(fd, kLimit); });
  EXPECT_EQ(cut.front(), "frame I/O failed: Resource temporarily unavailable (os error 11)");
}

// Split across receives or several in one: each payload starts on a word
// boundary, and bytes past a frame wait in the reader for the next read.
TEST(FrameReader, ReassemblesSplitFramesAndKeepsWhatFollows) {
  auto aligned = [](ByteView view) { return reinterpret_cast<std::uintptr_t>(view.data()) % 8 == 0; };
  {
    auto [a, b] = stream_pair();
    const Bytes wire{0, 0, 0, 3, 'a', 'b', 'c', 0, 0, 0, 2, 'd', 'e'};
    std::jthread writer([&, fd = a.fd()] {
      for (std::uint8_t byte : wire) {
        send_all(fd, ByteView(&byte, 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
    FrameReader reader;
    auto first = reader.read(b.fd(), 64);
    ASSERT_TRUE(first) << error_text(first);
    EXPECT_EQ(Bytes(first->begin(), first->end()), (Bytes{'a', 'b', 'c'}));
    auto second = reader.read(b.fd(), 64);
    ASSERT_TRUE(second) << error_text(second);
    EXPECT_EQ(Bytes(second->begin(), second->end()), (Bytes{'d', 'e'}));
  }
  {
    auto [a, b] = stream_pair();
    send_all(a.fd(), Bytes{0, 0, 0, 3, 'a', 'b', 'c', 0, 0, 0, 9, '1', '2', '3', '4', '5', '6', '7', '8', '9'});
    a.reset();
    FrameReader reader;
    auto first = reader.read(b.fd(), 64);
    ASSERT_TRUE(first) << error_text(first);
    EXPECT_TRUE(aligned(*first));
    EXPECT_EQ(reader.buffered(), 13u);
    // The peer is gone, so the second frame can only come from the buffer.
    auto second = reader.read(b.fd(), 64);
    ASSERT_TRUE(second) << error_text(second);
    EXPECT_TRUE(aligned(*second));
    EXPECT_EQ(Bytes(second->begin(), second->end()), (Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'}));
    EXPECT_EQ(error_text(reader.read(b.fd(), 64)), "frame I/O failed: failed to fill whole buffer");
  }
}

// The buffer grows for a large frame only once its length passed the limit,
// to no more than the frame needs, and shrinks back for an ordinary one.
TEST(FrameReader, GrowsOnlyForAnAcceptedFrameAndShrinksBack) {
  constexpr std::size_t kLimit = 1048576;
  auto [a, b] = stream_pair();
  Bytes wire{0, 0x10, 0, 1};
  wire.insert(wire.end(), {0, 0x10, 0, 0});
  wire.resize(wire.size() + kLimit, 0xab);
  wire.insert(wire.end(), {0, 0, 0, 1, 0xcd});
  std::jthread writer([&, fd = a.fd()] { send_all(fd, wire); });
  FrameReader reader;

  auto refused = reader.read(b.fd(), kLimit);
  EXPECT_EQ(error_text(refused), "Cap'n Proto frame length 1048577 exceeds limit 1048576");
  EXPECT_LE(reader.capacity(), FrameReader::kRetainedCapacity);

  auto large = reader.read(b.fd(), kLimit);
  ASSERT_TRUE(large) << error_text(large);
  EXPECT_EQ(large->size(), kLimit);
  EXPECT_TRUE(std::all_of(large->begin(), large->end(), [](std::uint8_t x) { return x == 0xab; }));
  // The limit, the prefix and the word alignment, rounded to a word.
  EXPECT_LE(reader.capacity(), kLimit + 16);

  auto small = reader.read(b.fd(), kLimit);
  ASSERT_TRUE(small) << error_text(small);
  EXPECT_EQ(Bytes(small->begin(), small->end()), Bytes{0xcd});
  EXPECT_EQ(reader.capacity(), FrameReader::kRetainedCapacity);
}

// A reader first used with a small limit keeps serving a larger one.
TEST(FrameReader, ServesALargerLimitThanItsFirst) {
  auto [a, b] = stream_pair();
  Bytes wire{0, 0, 0, 1, 'x', 0, 0, 0, 40};
  wire.resize(wire.size() + 40, 0xab);
  send_all(a.fd(), wire);
  FrameReader reader;
  ASSERT_TRUE(reader.read(b.fd(), 16));
  auto larger = reader.read(b.fd(), 64);
  ASSERT_TRUE(larger) << error_text(larger);
  EXPECT_EQ(Bytes(larger->begin(), larger->end()), Bytes(40, 0xab));
}

TEST(FrameError, DisplayTexts) {
  const std::pair<FrameError, std::string> cases[] = {
      {{FrameError::Io{IoError::made(IoError::Kind::WriteZero)}},
       "frame I/O failed: failed to write whole buffer"},
      {{FrameError::Io{IoError::os(104)}}, "frame I/O failed: Connection reset by peer (os error 104)"},
      {{FrameError::Empty{}}, "empty Cap'n Proto frame is invalid"},
      {{FrameError::TooLarge{7, 6}}, "Cap'n Proto frame length 7 exceeds limit 6"},
      {{FrameError::LengthOverflow{18446744073709551615u}},
       "Cap'n Proto frame length 18446744073709551615 does not fit in u32"},
  };
  for (const auto& [error, text] : cases) EXPECT_EQ(to_string(error), text);
}

// Request/response over loopback TCP with Nagle's algorithm left on, as the
// client runs. Were prefix and payload sent separately, each exchange would
// wait for the peer's delayed ACK (about 40 ms on Linux).
TEST(FrameOverTcp, RoundTripsDoNotStallOnDelayedAck) {
  Socket listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener.fd(), 1), 0);
  socklen_t len = sizeof addr;
  ::getsockname(listener.fd(), reinterpret_cast<sockaddr*>(&addr), &len);

  Socket client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  ASSERT_EQ(::connect(client.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  Socket server(::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC));
  timeval tv{2, 0};
  for (int fd : {client.fd(), server.fd()}) ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

  constexpr int kRounds = 40;
  std::jthread echo([fd = server.fd()] {
    for (int i = 0; i < kRounds; ++i) {
      auto frame = read_frame(fd, 1024);
      if (!frame || !write_frame(fd, *frame)) return;
    }
  });
  const Bytes request(48, 0x5a);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kRounds; ++i) {
    ASSERT_TRUE(write_frame(client.fd(), request));
    auto answer = read_frame(client.fd(), 1024);
    ASSERT_TRUE(answer) << error_text(answer);
    ASSERT_EQ(*answer, request);
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  RecordProperty("round_trips_ms", static_cast<int>(ms));
  // A single delayed-ACK stall per round would need well over a second.
  EXPECT_LT(ms, 200) << kRounds << " round trips took " << ms << " ms";
}

}  // namespace
}  // namespace remote_session_client
