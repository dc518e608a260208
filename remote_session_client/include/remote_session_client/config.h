// ClientConfig: everything connect needs, with the library's defaults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "remote_session_client/export.h"
#include "remote_session_client/records.h"

namespace remote_session_client {

// A span of time as whole seconds plus nanoseconds, so that any unsigned
// 64-bit millisecond count is representable (std::chrono's 64-bit nanoseconds
// would overflow past 292 years).
struct Duration {
  std::uint64_t secs = 0;
  std::uint32_t nanos = 0;  // below 1'000'000'000

  static constexpr Duration from_millis(std::uint64_t ms) {
    return Duration{ms / 1000, static_cast<std::uint32_t>((ms % 1000) * 1'000'000)};
  }
  static constexpr Duration from_secs(std::uint64_t s) { return Duration{s, 0}; }
  // Exact for every duration from_millis makes.
  constexpr std::uint64_t whole_millis() const { return secs * 1000 + nanos / 1'000'000; }
  constexpr bool is_zero() const { return secs == 0 && nanos == 0; }
  friend constexpr bool operator==(const Duration&, const Duration&) = default;
};

struct ExpectedCap {
  std::string name;
  std::uint64_t interface_id = 0;
  friend bool operator==(const ExpectedCap&, const ExpectedCap&) = default;
};

// The password of the default scripted-run account "operator".
inline constexpr std::string_view kDefaultAccount = "operator";
inline constexpr std::string_view kDefaultPassword = "orvik";
inline constexpr std::uint64_t kSessionInterfaceId = 0x80b87169c39aaf1cULL;
inline constexpr std::uint64_t kSystemInfoInterfaceId = 0xfbbdc602980cb986ULL;

RSC_API AuthMode default_auth_mode();

// The connection defaults, named once: ClientConfig's, and those the
// interactive front ends (the Python Client and orvik-session) start from.
// A person waits 10 s for a connection; a scripted run gets 240 s.
inline constexpr std::string_view kDefaultHost = "127.0.0.1";
inline constexpr std::uint16_t kDefaultPort = 2327;
inline constexpr Duration kDefaultIoTimeout = Duration::from_secs(60);
inline constexpr Duration kDefaultConnectDeadline = Duration::from_secs(240);
inline constexpr Duration kInteractiveConnectDeadline = Duration::from_secs(10);
inline constexpr Duration kDefaultConnectRetryInterval = Duration::from_millis(100);

struct ClientConfig {
  std::string host{kDefaultHost};
  std::uint16_t port = kDefaultPort;
  // Each connection try to one address, and the socket's read and write
  // time-out for the life of the connection.
  Duration io_timeout = kDefaultIoTimeout;
  // Overall budget of connect, from its start.
  Duration connect_deadline = kDefaultConnectDeadline;
  Duration connect_retry_interval = kDefaultConnectRetryInterval;
  // Largest response payload accepted: a 4-byte prefix could otherwise ask
  // us to allocate 4 GiB.
  std::size_t max_frame_len = 1'048'576;

  // Settings of a scripted run. No operation of this library reads them;
  // they are kept and copied with the configuration.
  AuthMode auth = default_auth_mode();
  std::vector<ExpectedCap> expected_caps = {
      {"session", kSessionInterfaceId},
      {"system_info", kSystemInfoInterfaceId},
  };
  std::optional<std::string> missing_cap_name = "__orvik_missing_remote_cap__";
  std::optional<ExpectedCap> mismatch_probe = ExpectedCap{"system_info", kSessionInterfaceId};
  std::string chat_channel = "#lobby";
  std::string chat_greeting = "hello from the orvik remote session client";
  std::optional<std::string> chat_handle;
  std::optional<std::string> service_profile;
  std::optional<std::string> adventure_script;
  std::optional<std::string> paperclips_script;
  bool run_chat = false;
  bool run_chat_schema_probe = false;
  bool run_service_catalog = false;
  bool run_service_launch = false;
  bool run_adventure = false;
  bool run_paperclips = false;
  bool logout_at_end = false;
};

}  // namespace remote_session_client
