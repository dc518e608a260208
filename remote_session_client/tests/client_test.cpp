// connect, transact, the client's error texts and the transcript.
#include "remote_session_client/client.h"

#include <netdb.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <thread>

#include <gtest/gtest.h>

#include "../src/resolve.h"
#include "../src/time_limits.h"
#include "remote_session_client/protocol.h"
#include "test_gateway.h"

namespace remote_session_client {
namespace {

using testing::answer;
using testing::answer_raw;
using testing::TestGateway;
using E = RemoteSessionClientError;
using Root = orvik_capnp::RemoteGatewayResponse::Builder;

constexpr std::uint64_t kMaxMillis = std::numeric_limits<std::uint64_t>::max();

std::chrono::milliseconds since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

auto motd(const char* text) {
  return answer([text](Root root) { root.setSystemMotd(text); });
}

// ------------------------------------------------------------------ connect

TEST(Connect, RecordsConnectThenConnectedPeer) {
  TestGateway gateway({});
  auto client = connect(gateway.config());
  ASSERT_TRUE(client) << to_string(client.error());
  const std::string target = "127.0.0.1:" + std::to_string(gateway.port());
  ASSERT_EQ(client->transcript().events().size(), 2u);
  EXPECT_EQ(std::get<event::Connect>(client->transcript().events()[0]).target, target);
  EXPECT_EQ(std::get<event::Connected>(client->transcript().events()[1]).peer, target);
  EXPECT_EQ(client->next_seq(), 1u);
  EXPECT_FALSE(client->logged_out());
  EXPECT_FALSE(client->current_session());
}

// A name goes through the resolver; the peer is still shown as an address.
TEST(Connect, ResolvesAHostName) {
  TestGateway gateway({});
  ClientConfig config = gateway.config();
  config.host = "localhost";
  auto client = connect(config);
  ASSERT_TRUE(client) << to_string(client.error());
  const auto& events = client->transcript().events();
  EXPECT_EQ(std::get<event::Connect>(events[0]).target, "localhost:" + std::to_string(gateway.port()));
  EXPECT_EQ(std::get<event::Connected>(events[1]).peer, "127.0.0.1:" + std::to_string(gateway.port()));
}

// The gateway starts listening only after several refused attempts. A
// deadline too large for the clock must mean "keep trying", not "already
// passed".
TEST(Connect, RetriesUntilALateListenerAppears) {
  for (std::uint64_t deadline_ms : {std::uint64_t{3000}, kMaxMillis}) {
    TestGateway gateway({}, {.port = testing::unused_port(), .listen_after = std::chrono::milliseconds(150)});
    ClientConfig config = gateway.config();
    config.connect_deadline = Duration::from_millis(deadline_ms);
    const auto start = std::chrono::steady_clock::now();
    auto client = connect(config);
    ASSERT_TRUE(client) << deadline_ms << ": " << to_string(client.error());
    EXPECT_GE(since(start).count(), 100);
    const auto& events = client->transcript().events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(std::holds_alternative<event::Connect>(events[0]));
    EXPECT_TRUE(std::holds_alternative<event::Connected>(events[1]));
  }
}

TEST(Connect, FailsWithTheLastAttemptsErrorOnceTheDeadlinePassed) {
  const std::uint16_t port = testing::unused_port();
  const std::string target = "127.0.0.1:" + std::to_string(port);
  struct Case { std::string host; Duration io_timeout; std::string text_prefix; };
  const Case cases[] = {
      {"127.0.0.1", Duration::from_millis(1000),
       "timed out connecting to " + target + "; last error: remote session TCP I/O failed: Connection refused (os error 111)"},
      {"127.0.0.1", Duration{},
       "timed out connecting to " + target + "; last error: remote session TCP I/O failed: cannot set a 0 duration timeout"},
      {"nonexistent.invalid", Duration::from_millis(1000),
       "timed out connecting to nonexistent.invalid:" + std::to_string(port) +
           "; last error: failed to resolve nonexistent.invalid:" + std::to_string(port) +
           ": failed to lookup address information: "},
  };
  for (const auto& c : cases) {
    ClientConfig config;
    config.host = c.host;
    config.port = port;
    config.io_timeout = c.io_timeout;
    config.connect_deadline = Duration{};
    // A second attempt would first sleep this long.
    config.connect_retry_interval = Duration::from_secs(30);
    const auto start = std::chrono::steady_clock::now();
    auto client = connect(config);
    ASSERT_FALSE(client);
    EXPECT_LT(since(start).count(), 10'000);
    const std::string text = to_string(client.error());
    EXPECT_EQ(text.substr(0, c.text_prefix.size()), c.text_prefix);
    EXPECT_GT(text.size(), c.host == "nonexistent.invalid" ? c.text_prefix.size() : 0) << text;
    if (c.host != "nonexistent.invalid") {
      EXPECT_EQ(text, c.text_prefix);
    }
    ASSERT_EQ(client.error().transcript.events().size(), 1u);
    EXPECT_TRUE(std::holds_alternative<event::Connect>(client.error().transcript.events()[0]));
    EXPECT_TRUE(std::holds_alternative<E::ConnectTimeout>(client.error().error.value));
  }
}

// The read and write time-outs go onto the socket; one too long for a
// timeval is clamped to "wait forever" rather than wrapping.
TEST(Connect, SetsTheSocketTimeOuts) {
  // What the kernel reports back for "forever" differs between kernels: no
  // time-out at all ({0, 0}) or its own longest one.
  constexpr time_t kForever = -1;
  constexpr time_t kCentury = time_t{100} * 365 * 24 * 3600;
  struct Case { Duration io_timeout; timeval expected; };
  for (const auto& c : {Case{Duration::from_millis(1500), {1, 500'000}},
                        Case{Duration::from_millis(kMaxMillis), {kForever, 0}},
                        Case{Duration{std::numeric_limits<std::uint64_t>::max(), 999'999'999}, {kForever, 0}}}) {
    // A slow answer must be waited for: a time-out that wrapped to zero or
    // below would fail the read at once.
    auto slow_motd = [](std::uint32_t seq) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      return testing::framed(rsc_test::response(seq, [](Root root) { root.setSystemMotd("slow"); }));
    };
    TestGateway gateway({slow_motd});
    ClientConfig config = gateway.config();
    config.io_timeout = c.io_timeout;
    auto client = connect(config);
    ASSERT_TRUE(client) << to_string(client.error());
    auto answered = client->transact(request::SystemMotd{});
    EXPECT_TRUE(answered) << to_string(answered.error());
    for (int option : {SO_RCVTIMEO, SO_SNDTIMEO}) {
      timeval tv{};
      socklen_t length = sizeof tv;
      ASSERT_EQ(::getsockopt(client->fd(), SOL_SOCKET, option, &tv, &length), 0);
      if (c.expected.tv_sec == kForever) {
        EXPECT_TRUE((tv.tv_sec == 0 && tv.tv_usec == 0) || tv.tv_sec > kCentury) << tv.tv_sec;
      } else {
        EXPECT_EQ(tv.tv_sec, c.expected.tv_sec);
        EXPECT_EQ(tv.tv_usec, c.expected.tv_usec);
      }
    }
  }
}

TEST(TimeLimits, ConversionsSaturate) {
  const auto now = MonotonicClock::now();
  EXPECT_EQ(saturating_deadline(now, Duration::from_millis(kMaxMillis)), MonotonicClock::time_point::max());
  EXPECT_EQ(saturating_deadline(now, Duration{std::numeric_limits<std::uint64_t>::max(), 999'999'999}),
            MonotonicClock::time_point::max());
  EXPECT_EQ(saturating_deadline(now, Duration::from_millis(1500)) - now, std::chrono::milliseconds(1500));

  EXPECT_EQ(poll_timeout_ms(now, now - std::chrono::seconds(1)), 0);
  EXPECT_EQ(poll_timeout_ms(now, now + std::chrono::nanoseconds(1)), 1);  // never early
  EXPECT_EQ(poll_timeout_ms(now, now + std::chrono::milliseconds(250)), 250);
  // 2^32 + 1 ms would wrap to 1 ms in an int.
  EXPECT_EQ(poll_timeout_ms(now, now + std::chrono::milliseconds((std::int64_t{1} << 32) + 1)),
            std::numeric_limits<int>::max());
  EXPECT_EQ(poll_timeout_ms(now, MonotonicClock::time_point::max()), std::numeric_limits<int>::max());

  struct Case { Duration span; time_t secs; suseconds_t micros; };
  for (const auto& c : {Case{Duration{0, 1}, 0, 1},  // not 0, which means "no time-out"
                        Case{Duration{2, 999'999'001}, 3, 0},
                        Case{Duration::from_millis(60'000), 60, 0},
                        Case{Duration{std::numeric_limits<std::uint64_t>::max(), 0},
                             std::numeric_limits<time_t>::max(), 999'999}}) {
    const timeval tv = socket_timeout(c.span);
    EXPECT_EQ(tv.tv_sec, c.secs);
    EXPECT_EQ(tv.tv_usec, c.micros);
  }
}

TEST(Resolve, LiteralsSkipTheResolverAndFormatWithTheirPort) {
  struct Case { std::string host; std::string shown; };
  for (const auto& c : {Case{"127.0.0.1", "127.0.0.1:2327"}, Case{"::1", "[::1]:2327"},
                        Case{"2001:db8::5", "[2001:db8::5]:2327"}}) {
    auto addresses = resolve(c.host, 2327);
    ASSERT_TRUE(addresses) << c.host;
    ASSERT_EQ(addresses->size(), 1u);
    EXPECT_EQ(format_address(addresses->front()), c.shown);
  }
}

// ----------------------------------------------------------------- transact

TEST(Transact, SequenceNumbersCountUpAndARefusedEncodeSpendsOne) {
  TestGateway gateway({motd("one"), motd("two")});
  auto client = connect(gateway.config());
  ASSERT_TRUE(client);

  auto first = client->transact(request::SystemMotd{});
  ASSERT_TRUE(first) << to_string(first.error());
  EXPECT_EQ(first->seq, 1u);

  auto refused = client->transact(request::PaperclipsStatus{});
  ASSERT_FALSE(refused);
  EXPECT_TRUE(std::holds_alternative<E::Protocol>(refused.error().value));

  auto third = client->transact(request::SystemMotd{});
  ASSERT_TRUE(third) << to_string(third.error());
  EXPECT_EQ(third->seq, 3u);
  EXPECT_EQ(client->next_seq(), 4u);

  // Only the two encodable requests reached the gateway.
  const auto requests = gateway.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(testing::request_seq(requests[0]), 1u);
  EXPECT_EQ(testing::request_seq(requests[1]), 3u);

  // The refused request is still recorded, before its failure.
  const auto& events = client->transcript().events();
  ASSERT_EQ(events.size(), 2u + 5u);
  const auto& refused_event = std::get<event::Request>(events[4]);
  EXPECT_EQ(refused_event.seq, 2u);
  EXPECT_EQ(refused_event.label, label(request::PaperclipsStatus{}));
  const auto& response = std::get<event::Response>(events[3]);
  EXPECT_EQ(response.label, "systemMotd");
  EXPECT_EQ(response.seq, 1u);
}

// Each failure of the exchange. One on a whole frame leaves the client in
// step, and the next call is answered; one that stops inside a frame leaves
// it out of step, and the next call fails at once, sending nothing.
TEST(Transact, ExchangeFailures) {
  struct Case {
    std::string name;
    TestGateway::Step step;
    std::string text;
    bool in_step;
  };
  Bytes too_large{0x00, 0x10, 0x00, 0x01};
  const std::string timed_out = "frame I/O failed: Resource temporarily unavailable (os error 11)";
  const Case cases[] = {
      {"seq mismatch", answer([](Root root) { root.setSystemMotd("late"); }, 1),
       to_string(ProtocolError{ProtocolError::SeqMismatch{1, 2}}), true},
      {"read time-out", answer_raw({}), timed_out, true},
      {"empty frame", answer_raw({0, 0, 0, 0}), "empty Cap'n Proto frame is invalid", true},
      {"above max_frame_len", answer_raw(too_large), "Cap'n Proto frame length 1048577 exceeds limit 1048576",
       false},
      {"time-out mid-prefix", answer_raw({0, 0}), timed_out, false},
      {"time-out mid-payload", answer_raw({0, 0, 0, 5, 'a'}), timed_out, false},
  };
  for (const auto& c : cases) {
    TestGateway gateway({c.step, motd("two")});
    ClientConfig config = gateway.config();
    config.io_timeout = Duration::from_millis(100);
    auto client = connect(config);
    ASSERT_TRUE(client);
    auto result = client->transact(request::SystemMotd{});
    ASSERT_FALSE(result) << c.name;
    EXPECT_EQ(to_string(result.error()), c.text) << c.name;
    // Nothing was accepted: the last event is the request.
    EXPECT_TRUE(std::holds_alternative<event::Request>(client->transcript().events().back())) << c.name;
    EXPECT_EQ(client->next_seq(), 2u);
    EXPECT_EQ(client->in_step(), c.in_step) << c.name;

    const std::size_t events = client->transcript().events().size();
    auto next = client->transact(request::SystemMotd{});
    if (c.in_step) {
      ASSERT_TRUE(next) << c.name << ": " << to_string(next.error());
      EXPECT_EQ(next->seq, 2u);
      continue;
    }
    ASSERT_FALSE(next) << c.name;
    EXPECT_TRUE(std::holds_alternative<E::OutOfStep>(next.error().value)) << c.name;
    // Refused before anything happened: no number spent, nothing recorded or sent.
    EXPECT_EQ(client->next_seq(), 2u);
    EXPECT_EQ(client->transcript().events().size(), events);
    EXPECT_EQ(gateway.requests().size(), 1u) << c.name;
  }
}

// An answer too many, arriving with the one before it, is not lost in the
// client's receive buffer nor skipped: the next call reads it and refuses it
// as stale, and every later call stays one answer behind, as on the stream.
TEST(Transact, AStaleAnswerIsRefusedByTheNextCall) {
  auto twice = [](std::uint32_t seq) {
    Bytes both = testing::framed(rsc_test::response(seq, [](Root r) { r.setSystemMotd("one"); }));
    const Bytes again = testing::framed(rsc_test::response(seq, [](Root r) { r.setSystemMotd("again"); }));
    both.insert(both.end(), again.begin(), again.end());
    return both;
  };
  TestGateway gateway({twice, motd("two"), motd("three")});
  auto client = connect(gateway.config());
  ASSERT_TRUE(client);
  auto first = client->system_motd();
  ASSERT_TRUE(first) << to_string(first.error());
  EXPECT_EQ(*first, "one");
  for (std::uint32_t seq : {2u, 3u}) {
    auto late = client->system_motd();
    ASSERT_FALSE(late);
    EXPECT_EQ(to_string(late.error()), to_string(ProtocolError{ProtocolError::SeqMismatch{seq, seq - 1}}));
  }
}

// ------------------------------------------------------ errors and transcript

TEST(ClientError, DisplayTexts) {
  const ProtocolError protocol{ProtocolError::SeqMismatch{7, 8}};
  const std::pair<E, std::string> cases[] = {
      {E{E::Resolve{"gw.example:2327", IoError::lookup("Name or service not known")}},
       "failed to resolve gw.example:2327: failed to lookup address information: Name or service not known"},
      {E{E::ConnectTimeout{"127.0.0.1:2327", "remote session TCP I/O failed: Connection refused (os error 111)"}},
       "timed out connecting to 127.0.0.1:2327; last error: remote session TCP I/O failed: Connection "
       "refused (os error 111)"},
      {E{E::Io{IoError::made(IoError::Kind::NoAddresses)}},
       "remote session TCP I/O failed: no socket addresses resolved"},
      {E{E::Io{IoError::made(IoError::Kind::TimedOut)}}, "remote session TCP I/O failed: connection timed out"},
      {E{E::Frame{FrameError{FrameError::Io{IoError::made(IoError::Kind::UnexpectedEof)}}}},
       "frame I/O failed: failed to fill whole buffer"},
      {E{E::Frame{FrameError{FrameError::TooLarge{1048577, 1048576}}}},
       "Cap'n Proto frame length 1048577 exceeds limit 1048576"},
      {E{E::Protocol{protocol}}, to_string(protocol)},
      {E{E::Remote{"badRequest", "no"}}, "remote gateway denied request: code=badRequest message=\"no\""},
      {E{E::Remote{"unknownCap", "say \"hi\"\n\tthen\\go"}},
       "remote gateway denied request: code=unknownCap message=\"say \\\"hi\\\"\\n\\tthen\\\\go\""},
      {E{E::UnexpectedResponse{"loggedOut", "authMethods"}},
       "request authMethods received unexpected response loggedOut"},
      {E{E::UnexpectedResponse{"loggedOut(false)", "logout"}},
       "request logout received unexpected response loggedOut(false)"},
      {E{E::OutOfStep{}}, "connection is out of step after an earlier frame failure; create a new Client"},
  };
  for (const auto& [error, text] : cases) EXPECT_EQ(to_string(error), text);
  EXPECT_EQ(to_string(RemoteSessionConnectError{cases[1].first, Transcript{}}), cases[1].second);
}

TEST(Transcript, KeepsTheNewestEventsAndCountsTheRest) {
  Transcript transcript(3);
  for (int i = 0; i < 5; ++i) transcript.record(event::Note{std::to_string(i)});
  ASSERT_EQ(transcript.events().size(), 3u);
  EXPECT_EQ(transcript.dropped(), 2u);
  EXPECT_EQ(std::get<event::Note>(transcript.events().front()).text, "2");
  EXPECT_EQ(std::get<event::Note>(transcript.events().back()).text, "4");

  Transcript none(0);
  none.record(event::Note{"x"});
  EXPECT_TRUE(none.events().empty());
  EXPECT_EQ(none.dropped(), 1u);
}

// Oldest first out, order kept, until the held footprints fit the budget;
// an event larger than the whole budget is kept alone until the next one.
TEST(Transcript, KeepsItsFootprintWithinTheByteBudget) {
  const event::Note note{std::string(100, 'n')};
  const std::size_t one = footprint(note);
  Transcript transcript(100, 3 * one);
  for (int i = 0; i < 5; ++i) transcript.record(event::Note{std::string(99, 'n') + std::to_string(i)});
  ASSERT_EQ(transcript.events().size(), 3u);
  EXPECT_EQ(transcript.dropped(), 2u);
  EXPECT_EQ(transcript.bytes(), 3 * one);
  EXPECT_EQ(std::get<event::Note>(transcript.events().front()).text.back(), '2');
  EXPECT_EQ(std::get<event::Note>(transcript.events().back()).text.back(), '4');

  transcript.record(event::Note{std::string(10 * one, 'b')});
  ASSERT_EQ(transcript.events().size(), 1u);
  EXPECT_EQ(transcript.dropped(), 5u);
  transcript.record(note);
  ASSERT_EQ(transcript.events().size(), 1u);
  EXPECT_EQ(std::get<event::Note>(transcript.events().front()).text, note.text);
  EXPECT_EQ(transcript.bytes(), one);
}

// The listing of a large CapSet is counted by its entries: a client that
// lists it again and again holds about one budget, not 4,096 listings.
TEST(Transcript, LargeCapsetListingsStayWithinTheDefaultBudget) {
  Transcript transcript;
  event::CapsetList listing;
  for (int i = 0; i < 10'000; ++i) listing.entries.push_back("cap_" + std::to_string(i) + ":0x00000000000000ff");
  listing.count = listing.entries.size();
  for (int i = 0; i < 20; ++i) {
    transcript.record(event::Request{"capsetList", static_cast<std::uint32_t>(i + 1)});
    transcript.record(listing);
  }
  EXPECT_LE(transcript.bytes(), Transcript::kDefaultByteBudget);
  EXPECT_GE(footprint(listing), listing.entries.size() * (sizeof(std::string) + 20));
  ASSERT_FALSE(transcript.events().empty());
  EXPECT_TRUE(std::holds_alternative<event::CapsetList>(transcript.events().back()));
  EXPECT_EQ(std::get<event::Request>(*(transcript.events().end() - 2)).seq, 20u);
}

TEST(Transcript, PrincipalLabel) {
  struct Case { std::string kind, display, label; };
  for (const auto& c : {Case{"human", "console", "human:console"}, Case{"guest", "visitor", "guest"},
                        Case{"service", "", "service"}, Case{"guests", "x", "guests:x"}}) {
    SessionInfoSummary summary;
    summary.principal_kind = c.kind;
    summary.principal_display_name = c.display;
    EXPECT_EQ(principal_label(summary), c.label);
  }
}

}  // namespace
}  // namespace remote_session_client
