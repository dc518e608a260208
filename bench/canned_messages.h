// The pre-encoded frames of the benchmark: the canned gateway's answers and
// the floor client's requests, each built once with the generated schema code
// and then only copied and re-numbered.
//
// The content is deterministic; bench/canned_content.py computes the same
// values so that the Python side can check what every client decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvik_bench {

// One frame as it travels: the 4-byte big-endian length, then the message.
struct CannedFrame {
  std::vector<std::uint8_t> bytes;
  std::size_t seq_offset = 0;  // where, within `bytes`, the 32-bit seq sits

  void set_seq(std::uint32_t seq);
};

inline constexpr std::string_view kMotd =
    "Welcome to orvik. Every authority here is a capability; ask for what you need.";

// The gateway's request arms (discriminants of RemoteGatewayRequest).
enum class RequestArm : std::uint16_t {
  CapsetList = 3,
  SessionInfo = 5,
  SystemMotd = 6,
  Logout = 8,
};

// The banner of `bytes` bytes: kMotd and a line feed, repeated and cut to
// length (ASCII, so any cut is whole characters).
std::string banner(std::size_t bytes);
// The largest banner whose answer fits the library's default frame limit of
// 1 MiB: 4 words of segment table, root pointer and envelope, then the
// text's bytes and its NUL, rounded up to a word.
inline constexpr std::size_t kLargestBanner = (1 << 20) - 32 - 1;

CannedFrame motd_response(std::string_view text = kMotd);
CannedFrame session_info_response();
CannedFrame capset_list_response(std::uint32_t entries);
CannedFrame logged_out_response();
CannedFrame error_response();

// A payload-free request with the given arm (seq 0 until set).
CannedFrame request_frame(RequestArm arm);

}  // namespace orvik_bench
