// Signals arriving more often than the I/O time-out: each receive still
// ends within its one time-out, instead of starting it afresh after every
// interruption and waiting on a silent gateway for ever.
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "interrupting_timer.h"
#include "remote_session_client/client.h"
#include "test_gateway.h"

namespace remote_session_client {
namespace {

using testing::InterruptingTimer;
using testing::TestGateway;

TEST(Interrupted, ReceiveEndsWithinItsTimeOut) {
  std::optional<TestGateway> silent;
  {
    InterruptingTimer::Blocked in_servers;
    silent.emplace(std::vector<TestGateway::Step>{testing::answer_raw({})});
  }
  ClientConfig config = silent->config();
  config.io_timeout = Duration::from_millis(300);
  auto client = connect(config);
  ASSERT_TRUE(client);

  InterruptingTimer timer(std::chrono::milliseconds(50));
  auto call = client->system_motd();
  ASSERT_FALSE(call);
  EXPECT_EQ(to_string(call.error()), "frame I/O failed: Resource temporarily unavailable (os error 11)");
  EXPECT_LT(timer.signals(), InterruptingTimer::kMostSignals);
  EXPECT_GT(timer.signals(), 0);
}

// The same for a send to a peer that reads nothing: once the socket's
// buffers are full, the interrupted send waits only what is left.
TEST(Interrupted, SendEndsWithinItsTimeOut) {
  int ends[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
  Socket ours(ends[0]);
  Socket silent_peer(ends[1]);
  const timeval timeout{0, 300'000};
  ASSERT_EQ(::setsockopt(ours.fd(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout), 0);

  InterruptingTimer timer(std::chrono::milliseconds(50));
  const Bytes payload(8 << 20, 'x');
  auto written = write_frame(ours.fd(), payload);
  ASSERT_FALSE(written);
  EXPECT_EQ(to_string(written.error()), "frame I/O failed: Resource temporarily unavailable (os error 11)");
  EXPECT_LT(timer.signals(), InterruptingTimer::kMostSignals);
}

}  // namespace
}  // namespace remote_session_client
