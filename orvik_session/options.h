// What the command line asks for, once parsed and checked: where the gateway
// is, how to log in, the one command and how to show its answer. Everything
// that can be refused is refused here, before any connection is made.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "remote_session_client/config.h"
#include "remote_session_client/request.h"
#include "tunnel.h"
#include "usage_error.h"

namespace orvik_session {

namespace command {
struct Methods {};
struct Info {};
struct Motd {};
struct Capset {};
struct Get { std::string name; std::uint64_t interface_id = 0; };
// Any request the codec builds, and the kind of answer it is meant to get.
struct Request { remote_session_client::RequestKind request; std::string_view answer; };
struct Tunnel { TunnelOptions tunnel; };
}  // namespace command

using Command = std::variant<command::Methods, command::Info, command::Motd, command::Capset,
                             command::Get, command::Request, command::Tunnel>;

namespace login {
struct Guest {};
struct Anonymous {};
// The password is not part of the options: it is read when it is needed,
// from --password-file, ORVIK_PASSWORD or the terminal.
struct User { std::string name; std::optional<std::string> password_file; };
}  // namespace login

using Login = std::variant<std::monostate, login::Guest, login::Anonymous, login::User>;

struct Options {
  std::string host = "127.0.0.1";
  std::uint16_t port = 2327;
  // The Python Client's defaults: a gateway that has not answered in 10 s
  // is not coming up soon for an operator at a prompt.
  std::uint64_t connect_deadline_ms = 10'000;
  std::uint64_t io_timeout_ms = 60'000;
  // --tls and the files and name it takes; absent: plain TCP.
  std::optional<remote_session_client::TlsConfig> tls;
  Login login;
  std::string profile = "operator";
  bool json = false;
  bool transcript = false;
  Command command;
};

// The library's configuration for these options.
remote_session_client::ClientConfig client_config(const Options& options);

// --help or --version: the text to print on stdout, and nothing else to do.
struct ShowText {
  std::string text;
};

using Parsed = std::variant<Options, ShowText>;

// `args` without the program name.
std::expected<Parsed, UsageError> parse_arguments(std::span<const std::string_view> args);

}  // namespace orvik_session
