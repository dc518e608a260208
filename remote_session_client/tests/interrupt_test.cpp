// Signals arriving more often than the I/O time-out: each receive still
// ends within its one time-out, instead of starting it afresh after every
// interruption and waiting on a silent gateway for ever.
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

}  // namespace
}  // namespace remote_session_client
