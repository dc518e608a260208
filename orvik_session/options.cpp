// The command line: options anywhere (before or after the command, as
// "--name value" or "--name=value"), "--" ends them; the first other word is
// the command, the rest are its operands.
#include <algorithm>
#include <vector>

#include "help.h"
#include "numbers.h"
#include "options.h"
#include "request_builders.h"

namespace orvik_session {

namespace {

constexpr std::string_view kCommandNames = "methods, info, motd, capset, get, request, tunnel";

UsageError error(std::string text) { return UsageError{std::move(text)}; }

std::string quoted_arg(std::string_view text) { return "'" + std::string(text) + "'"; }

struct Parser {
  Options options;
  std::optional<std::string_view> command;
  std::vector<std::string_view> operands;
  std::vector<std::string_view> seen;  // options given, to refuse repeats
  std::string_view login_option;       // the one of --guest, --anonymous, --user given
  std::optional<std::string> password_file;
  std::string user;
  bool help = false;
  bool version = false;
  bool tls = false;
  remote_session_client::TlsConfig tls_files;
  std::string_view tls_option;  // the first TLS option given, which needs --tls
  std::optional<std::string_view> listen;
  bool once = false;

  using Apply = std::expected<void, UsageError> (*)(Parser&, std::string_view option, std::string_view value);
  struct OptionSpec {
    std::string_view name;
    bool takes_value;
    Apply apply;
  };

  static std::expected<void, UsageError> number(std::string_view option, std::string_view value,
                                                std::uint64_t min, std::uint64_t max, std::uint64_t& out) {
    auto parsed = parse_number(value, max);
    if (!parsed || *parsed < min) {
      return std::unexpected(error("option " + std::string(option) + " takes a number from " +
                                   std::to_string(min) + " to " + std::to_string(max) + ", not " +
                                   quoted_arg(value)));
    }
    out = *parsed;
    return {};
  }

  std::expected<void, UsageError> set_login(std::string_view option, Login login) {
    if (!login_option.empty()) {
      return std::unexpected(error("options " + std::string(login_option) + " and " + std::string(option) +
                                   " cannot be combined: one login per session"));
    }
    login_option = option;
    options.login = std::move(login);
    return {};
  }


  // HOST:PORT, [IPV6]:PORT, or PORT alone on loopback.
  static std::expected<void, UsageError> listen_address(std::string_view text, TunnelOptions& tunnel) {
    const auto colon = text.rfind(':');
    std::string_view host = colon == std::string_view::npos ? std::string_view() : text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    std::uint64_t port = 0;
    if (auto ok = number("--listen", text.substr(colon == std::string_view::npos ? 0 : colon + 1), 0, UINT16_MAX,
                         port); !ok) {
      return std::unexpected(error("option --listen takes [HOST:]PORT (port 0: any free one), not " +
                                   quoted_arg(text)));
    }
    if (!host.empty()) tunnel.listen_host = std::string(host);
    tunnel.listen_port = static_cast<std::uint16_t>(port);
    return {};
  }

  static std::expected<void, UsageError> tls_file(Parser& p, std::string_view option, std::string_view value,
                                                 std::optional<std::string>& out) {
    if (p.tls_option.empty()) p.tls_option = option;
    out = std::string(value);
    return {};
  }

  // args[i] is an option; consumes its value, if it takes one.
  std::expected<void, UsageError> option(std::span<const std::string_view> args, std::size_t& i);

  std::expected<Command, UsageError> command_of(std::string_view name) const {
    const auto no_operands = [&](Command c) -> std::expected<Command, UsageError> {
      if (!operands.empty()) {
        return std::unexpected(error(std::string(name) + " takes no arguments, not " + quoted_arg(operands[0])));
      }
      return c;
    };
    if (name == "methods") return no_operands(command::Methods{});
    if (name == "info") return no_operands(command::Info{});
    if (name == "motd") return no_operands(command::Motd{});
    if (name == "capset") return no_operands(command::Capset{});
    if (name == "get") {
      if (operands.size() != 2) return std::unexpected(error("get takes NAME INTERFACE_ID"));
      auto id = parse_number(operands[1]);
      if (!id) {
        return std::unexpected(error("INTERFACE_ID of get is a number (decimal or 0x hex), not " +
                                     quoted_arg(operands[1])));
      }
      return command::Get{std::string(operands[0]), *id};
    }
    if (name == "request") {
      if (operands.empty()) return std::unexpected(error("request takes KIND [FIELD=VALUE ...]"));
      auto built = build_request(operands[0], std::span(operands).subspan(1));
      if (!built) return std::unexpected(std::move(built.error()));
      return Command{std::move(*built)};
    }
    if (name == "tunnel") {
      if (!operands.empty()) return std::unexpected(error("tunnel takes no arguments, not " + quoted_arg(operands[0])));
      command::Tunnel tunnel{TunnelOptions{.once = once}};
      if (listen) {
        auto address = listen_address(*listen, tunnel.tunnel);
        if (!address) return std::unexpected(std::move(address.error()));
      }
      return tunnel;
    }
    return std::unexpected(error("unknown command " + quoted_arg(name) + "; the commands are: " +
                                 std::string(kCommandNames)));
  }
};

constexpr Parser::OptionSpec kOptions[] = {
    {"--host", true, [](Parser& p, std::string_view, std::string_view v) -> std::expected<void, UsageError> {
       p.options.host = std::string(v);
       return {};
     }},
    {"--port", true, [](Parser& p, std::string_view o, std::string_view v) -> std::expected<void, UsageError> {
       std::uint64_t port = 0;
       auto ok = Parser::number(o, v, 1, UINT16_MAX, port);
       p.options.port = static_cast<std::uint16_t>(port);
       return ok;
     }},
    {"--connect-deadline-ms", true, [](Parser& p, std::string_view o, std::string_view v) {
       return Parser::number(o, v, 0, UINT64_MAX, p.options.connect_deadline_ms);
     }},
    // A zero time-out cannot be set on a socket: every try would fail.
    {"--io-timeout-ms", true, [](Parser& p, std::string_view o, std::string_view v) {
       return Parser::number(o, v, 1, UINT64_MAX, p.options.io_timeout_ms);
     }},
    {"--guest", false, [](Parser& p, std::string_view o, std::string_view) { return p.set_login(o, login::Guest{}); }},
    {"--anonymous", false,
     [](Parser& p, std::string_view o, std::string_view) { return p.set_login(o, login::Anonymous{}); }},
    {"--user", true, [](Parser& p, std::string_view o, std::string_view v) {
       p.user = std::string(v);
       return p.set_login(o, login::User{});
     }},
    {"--password-file", true, [](Parser& p, std::string_view, std::string_view v) -> std::expected<void, UsageError> {
       p.password_file = std::string(v);
       return {};
     }},
    {"--profile", true, [](Parser& p, std::string_view, std::string_view v) -> std::expected<void, UsageError> {
       p.options.profile = std::string(v);
       return {};
     }},
    {"--json", false, [](Parser& p, std::string_view, std::string_view) -> std::expected<void, UsageError> {
       p.options.json = true;
       return {};
     }},
    {"--transcript", false, [](Parser& p, std::string_view, std::string_view) -> std::expected<void, UsageError> {
       p.options.transcript = true;
       return {};
     }},
    {"--tls", false, [](Parser& p, std::string_view, std::string_view) -> std::expected<void, UsageError> {
       p.tls = true;
       return {};
     }},
    {"--ca-file", true, [](Parser& p, std::string_view o, std::string_view v) {
       return Parser::tls_file(p, o, v, p.tls_files.ca_file);
     }},
    {"--cert", true, [](Parser& p, std::string_view o, std::string_view v) {
       return Parser::tls_file(p, o, v, p.tls_files.cert_file);
     }},
    {"--key", true, [](Parser& p, std::string_view o, std::string_view v) {
       return Parser::tls_file(p, o, v, p.tls_files.key_file);
     }},
    {"--server-name", true, [](Parser& p, std::string_view o, std::string_view v) {
       return Parser::tls_file(p, o, v, p.tls_files.server_name);
     }},
    {"--listen", true, [](Parser& p, std::string_view, std::string_view v) -> std::expected<void, UsageError> {
       p.listen = v;
       return {};
     }},
    {"--once", false, [](Parser& p, std::string_view, std::string_view) -> std::expected<void, UsageError> {
       p.once = true;
       return {};
     }},
    {"--help", false, [](Parser& p, std::string_view, std::string_view) -> std::expected<void, UsageError> {
       p.help = true;
       return {};
     }},
    {"--version", false, [](Parser& p, std::string_view, std::string_view) -> std::expected<void, UsageError> {
       p.version = true;
       return {};
     }},
};

std::expected<void, UsageError> Parser::option(std::span<const std::string_view> args, std::size_t& i) {
  std::string_view word = args[i] == "-h" ? "--help" : args[i];
  std::optional<std::string_view> value;
  if (const auto equals = word.find('='); equals != std::string_view::npos) {
    value = word.substr(equals + 1);
    word = word.substr(0, equals);
  }
  const auto* spec = std::ranges::find(kOptions, word, &OptionSpec::name);
  if (spec == std::end(kOptions)) return std::unexpected(error("unknown option " + quoted_arg(word)));
  if (std::ranges::find(seen, word) != seen.end()) {
    return std::unexpected(error("option " + std::string(word) + " given twice"));
  }
  seen.push_back(spec->name);
  if (!spec->takes_value && value) {
    return std::unexpected(error("option " + std::string(word) + " takes no value"));
  }
  if (spec->takes_value && !value) {
    if (i + 1 == args.size()) return std::unexpected(error("option " + std::string(word) + " needs a value"));
    value = args[++i];
  }
  return spec->apply(*this, word, value.value_or(""));
}

}  // namespace

remote_session_client::ClientConfig client_config(const Options& options) {
  remote_session_client::ClientConfig config;
  config.host = options.host;
  config.port = options.port;
  config.connect_deadline = remote_session_client::Duration::from_millis(options.connect_deadline_ms);
  config.io_timeout = remote_session_client::Duration::from_millis(options.io_timeout_ms);
  config.connect_retry_interval = remote_session_client::Duration::from_millis(100);
  config.tls = options.tls;
  return config;
}

std::expected<Parsed, UsageError> parse_arguments(std::span<const std::string_view> args) {
  Parser p;
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view word = args[i];
    if (!options_ended && word == "--") {
      options_ended = true;
    } else if (!options_ended && word.size() > 1 && word.front() == '-') {
      if (auto ok = p.option(args, i); !ok) return std::unexpected(std::move(ok.error()));
    } else if (!p.command) {
      p.command = word;
    } else {
      p.operands.push_back(word);
    }
  }

  if (p.version) return ShowText{version_text()};
  if (p.help) {
    if (!p.command) return ShowText{program_help()};
    if (auto text = command_help(*p.command, p.operands)) return ShowText{std::move(*text)};
  }
  if (!p.command) return std::unexpected(error("no command given; the commands are: " + std::string(kCommandNames)));
  auto command = p.command_of(*p.command);
  if (!command) return std::unexpected(std::move(command.error()));
  p.options.command = std::move(*command);

  if (!p.tls && !p.tls_option.empty()) {
    return std::unexpected(error("option " + std::string(p.tls_option) + " needs --tls"));
  }
  if (p.tls_files.cert_file.has_value() != p.tls_files.key_file.has_value()) {
    return std::unexpected(error("options --cert and --key go together: a client certificate and its key"));
  }
  if (p.tls) p.options.tls = std::move(p.tls_files);
  const bool tunnel = std::holds_alternative<command::Tunnel>(p.options.command);
  if (!tunnel && (p.listen || p.once)) {
    return std::unexpected(error(std::string("option ") + (p.listen ? "--listen" : "--once") +
                                 " belongs to the tunnel command"));
  }
  if (tunnel) {
    // A plain tunnel would only add a hop; what it is for is the encryption.
    if (!p.tls) return std::unexpected(error("tunnel needs --tls"));
    if (!p.login_option.empty()) {
      return std::unexpected(error("tunnel carries its clients' own logins; option " +
                                   std::string(p.login_option) + " does not belong to it"));
    }
    return Parsed{std::move(p.options)};
  }

  if (auto* user = std::get_if<login::User>(&p.options.login)) {
    user->name = std::move(p.user);
    user->password_file = std::move(p.password_file);
  } else if (p.password_file) {
    return std::unexpected(error("option --password-file needs --user NAME"));
  }
  const bool logs_in = !std::holds_alternative<command::Methods>(p.options.command);
  if (logs_in && std::holds_alternative<std::monostate>(p.options.login)) {
    return std::unexpected(error(std::string(*p.command) +
                                 " logs in first: give --guest, --anonymous or --user NAME"));
  }
  return Parsed{std::move(p.options)};
}

}  // namespace orvik_session
