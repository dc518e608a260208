#include "options.h"

#include <algorithm>
#include <charconv>

#include "remote_session_client/config.h"
#include "remote_session_client/text.h"

namespace orvik_session {

namespace rsc = remote_session_client;

namespace {

using Result = std::expected<void, UsageError>;

// The apply functions say what is wrong with a value; the parser puts the
// option's name, or its variable's, in front.
Result number(std::string_view value, std::uint64_t min, std::uint64_t max, std::uint64_t& out) {
  auto parsed = parse_number(value, max);
  if (!parsed || *parsed < min) {
    return std::unexpected(UsageError{"takes a number from " + std::to_string(min) + " to " +
                                      std::to_string(max) + ", not " + quoted_word(value)});
  }
  out = *parsed;
  return {};
}

Result text(std::string_view value, std::string& out) {
  if (!is_utf8(value)) return std::unexpected(UsageError{"takes UTF-8 text, not " + quoted_word(value)});
  out = std::string(value);
  return {};
}

std::string decimal(std::uint64_t n) { return std::to_string(n); }

Result file_name(std::string_view value, std::optional<std::string>& out) {
  out = std::string(value);
  return {};
}

// [HOST:]PORT, HOST an IPv6 literal in brackets where it has colons; without
// HOST, loopback.
Result listen_address(std::string_view value, TunnelOptions& tunnel) {
  const auto colon = value.rfind(':');
  std::string_view host = colon == std::string_view::npos ? std::string_view() : value.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const auto port = parse_number(colon == std::string_view::npos ? value : value.substr(colon + 1), UINT16_MAX);
  if (!port || (colon != std::string_view::npos && host.empty())) {
    return std::unexpected(UsageError{"takes [HOST:]PORT (port 0: one the system picks), not " + quoted_word(value)});
  }
  if (!host.empty()) tunnel.listen_host = std::string(host);
  tunnel.listen_port = static_cast<std::uint16_t>(*port);
  return {};
}

constexpr OptionSpec kOptions[] = {
    {"host", 'h', "HOST", "ORVIK_HOST", Group::Connection, Scope::Session,
     "the gateway's host name or address",
     [](Options& o, std::string_view v) { return text(v, o.host); },
     [](const Options& d) { return d.host; }, Completes::Host},
    {"port", 'p', "PORT", "ORVIK_PORT", Group::Connection, Scope::Session, "the gateway's TCP port",
     [](Options& o, std::string_view v) -> Result {
       std::uint64_t port = 0;
       auto ok = number(v, 1, UINT16_MAX, port);
       o.port = static_cast<std::uint16_t>(port);
       return ok;
     },
     [](const Options& d) { return decimal(d.port); }},
    {"connect-deadline-ms", 0, "N", "", Group::Connection, Scope::Session,
     "give up connecting after N ms, retries included",
     [](Options& o, std::string_view v) {
       return number(v, 0, UINT64_MAX, o.connect_deadline_ms);
     },
     [](const Options& d) { return decimal(d.connect_deadline_ms); }},
    // A zero time-out cannot be set on a socket: every try would fail.
    {"io-timeout-ms", 0, "N", "", Group::Connection, Scope::Session,
     "bound each connection try and every read and write",
     [](Options& o, std::string_view v) { return number(v, 1, UINT64_MAX, o.io_timeout_ms); },
     [](const Options& d) { return decimal(d.io_timeout_ms); }},

    {"tls", 0, "", "", Group::Tls, Scope::Session,
     "TLS to the gateway, its certificate always verified (the machine's trusted CAs, or --ca-file)",
     [](Options& o, std::string_view) -> Result { o.tls = true; return {}; }},
    {"ca-file", 0, "FILE", "", Group::Tls, Scope::Session,
     "trust the CA certificates of FILE (PEM; a self-signed gateway's own certificate) instead of the machine's",
     [](Options& o, std::string_view v) { return file_name(v, o.tls_files.ca_file); }, nullptr, Completes::File},
    {"cert", 0, "FILE", "", Group::Tls, Scope::Session, "a client certificate (PEM), with --key",
     [](Options& o, std::string_view v) { return file_name(v, o.tls_files.cert_file); }, nullptr, Completes::File},
    {"key", 0, "FILE", "", Group::Tls, Scope::Session, "the client certificate's private key (PEM)",
     [](Options& o, std::string_view v) { return file_name(v, o.tls_files.key_file); }, nullptr, Completes::File},
    {"server-name", 0, "NAME", "", Group::Tls, Scope::Session,
     "the name to verify the certificate against and send (SNI), instead of --host",
     [](Options& o, std::string_view v) { return file_name(v, o.tls_files.server_name); }, nullptr,
     Completes::Host},

    {"guest", 0, "", "", Group::Login, Scope::Session, "log in as a guest",
     [](Options& o, std::string_view) -> Result { o.login = login::Guest{}; return {}; }, nullptr,
     Completes::Nothing, 1},
    {"anonymous", 0, "", "", Group::Login, Scope::Session, "log in anonymously",
     [](Options& o, std::string_view) -> Result { o.login = login::Anonymous{}; return {}; }, nullptr,
     Completes::Nothing, 1},
    {"user", 'U', "NAME", "ORVIK_USER", Group::Login, Scope::Session,
     "log in with the account NAME and its password",
     [](Options& o, std::string_view v) -> Result { o.login = login::User{std::string(v)}; return {}; }, nullptr,
     Completes::Nothing, 1},
    {"password-file", 0, "FILE", "", Group::Login, Scope::Session,
     "the password of --user, read from FILE ('-': standard input); without it ORVIK_PASSWORD, "
     "else a prompt on the terminal once connected. Never on the command line",
     [](Options& o, std::string_view v) -> Result { o.password_file = std::string(v); return {}; }, nullptr,
     Completes::File},
    {"profile", 0, "PROFILE", "", Group::Login, Scope::Session, "the profile to request",
     [](Options& o, std::string_view v) { return text(v, o.profile); },
     [](const Options& d) { return d.profile; }},

    {"json", 0, "", "", Group::Output, Scope::Command, "the answer as one JSON document on stdout",
     [](Options& o, std::string_view) -> Result { o.format = Format::Json; return {}; }, nullptr,
     Completes::Nothing, 2},
    {"raw", 0, "", "", Group::Output, Scope::Command,
     "for pipelines: rows tab-separated, without header or padding",
     [](Options& o, std::string_view) -> Result { o.format = Format::Raw; return {}; }, nullptr,
     Completes::Nothing, 2},
    {"transcript", 0, "", "", Group::Output, Scope::Command,
     "the session's transcript, secrets redacted, on stderr",
     [](Options& o, std::string_view) -> Result { o.transcript = true; return {}; }},

    {"count", 'c', "N", "", Group::Commands, Scope::Command, "ping: the number of round trips",
     [](Options& o, std::string_view v) { return number(v, 1, 1'000'000, o.count); },
     [](const Options& d) { return decimal(d.count); }},
    {"listen", 0, "[HOST:]PORT", "", Group::Commands, Scope::Session,
     "tunnel: where to listen for plain-TCP clients (port 0: one the system picks, printed)",
     [](Options& o, std::string_view v) { return listen_address(v, o.tunnel); },
     [](const Options& d) { return d.tunnel.listen_host + ":" + decimal(d.tunnel.listen_port); }},
    {"once", 0, "", "", Group::Commands, Scope::Session,
     "tunnel: connect to the gateway, accept one client, and exit when it leaves",
     [](Options& o, std::string_view) -> Result { o.tunnel.once = true; return {}; }},
    {"keep-going", 'k', "", "", Group::Commands, Scope::Session,
     "shell: fed from a pipe or a file, go on after a command that failed",
     [](Options& o, std::string_view) -> Result { o.keep_going = true; return {}; }},

    {"help", '?', "", "", Group::Program, Scope::Command, "this text; COMMAND --help for one command",
     [](Options& o, std::string_view) -> Result { o.help = true; return {}; }},
    {"version", 'V', "", "", Group::Program, Scope::Session, "the version",
     [](Options& o, std::string_view) -> Result { o.version = true; return {}; }},
    {"completion", 0, "SHELL", "", Group::Program, Scope::Session,
     "the completion script for SHELL (bash or zsh) on stdout",
     [](Options& o, std::string_view v) -> Result {
       if (v != "bash" && v != "zsh") {
         return std::unexpected(UsageError{"takes bash or zsh, not " + quoted_word(v)});
       }
       o.completion = std::string(v);
       return {};
     },
     nullptr, Completes::Shell},
    {"man", 0, "", "", Group::Program, Scope::Session, "the manual page (roff) on stdout",
     [](Options& o, std::string_view) -> Result { o.manual = true; return {}; }},
};

constexpr std::string_view kGroupTitles[] = {"connection", "TLS", "login", "output", "commands' options", "program"};

// Why the options of each exclusive set exclude each other.
constexpr std::string_view kExclusiveReasons[] = {"", ": one login per session", ": one form of output"};

UsageError error(std::string text) { return UsageError{std::move(text)}; }

std::string dashed(const OptionSpec& spec) { return "--" + std::string(spec.name); }

class Parser {
 public:
  Parser(Options base, Scope allowed) : words_{std::move(base), {}, {}}, allowed_(allowed) {}

  Result parse(std::span<const std::string_view> args) {
    bool options_ended = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
      const std::string_view word = args[i];
      Result ok;
      if (!options_ended && word == "--") {
        options_ended = true;
      } else if (!options_ended && word.starts_with("--")) {
        ok = long_option(args, i);
      } else if (!options_ended && word.size() > 1 && word.front() == '-') {
        ok = short_options(args, i);
      } else if (!words_.command) {
        words_.command = word;
      } else {
        words_.operands.push_back(word);
      }
      if (!ok) return ok;
    }
    return {};
  }

  // The variables of the options not given; a login option given on the
  // command line, or a variable of another login, excludes the rest of its set.
  Result environment(const Environment& lookup) {
    for (const OptionSpec& spec : kOptions) {
      if (spec.variable.empty() || given(spec) || (spec.exclusive_set != 0 && set_taken(spec.exclusive_set))) continue;
      const char* value = lookup(spec.variable);
      if (value == nullptr) continue;
      if (auto ok = spec.apply(words_.options, value); !ok) {
        return std::unexpected(error(std::string(spec.variable) + " " + ok.error().message));
      }
      seen_.push_back(&spec);
    }
    return {};
  }

  Words& words() { return words_; }

 private:
  Result long_option(std::span<const std::string_view> args, std::size_t& i) {
    std::string_view word = args[i].substr(2);
    std::optional<std::string_view> value;
    if (const auto equals = word.find('='); equals != std::string_view::npos) {
      value = word.substr(equals + 1);
      word = word.substr(0, equals);
    }
    const auto* spec = std::ranges::find(kOptions, word, &OptionSpec::name);
    if (spec == std::end(kOptions)) return std::unexpected(error("unknown option " + quoted_word(args[i].substr(0, word.size() + 2))));
    if (spec->value.empty() && value) return std::unexpected(error("option " + dashed(*spec) + " takes no value"));
    if (!spec->value.empty() && !value) {
      if (i + 1 == args.size()) return std::unexpected(error("option " + dashed(*spec) + " needs a value"));
      value = args[++i];
    }
    return apply(*spec, value.value_or(""));
  }

  Result short_options(std::span<const std::string_view> args, std::size_t& i) {
    const std::string_view word = args[i];
    for (std::size_t at = 1; at < word.size(); ++at) {
      const auto* spec = std::ranges::find(kOptions, word[at], &OptionSpec::short_name);
      if (spec == std::end(kOptions)) {
        return std::unexpected(error("unknown option " + quoted_word(std::string("-") + word[at])));
      }
      if (spec->value.empty()) {
        if (auto ok = apply(*spec, ""); !ok) return ok;
        continue;
      }
      if (at + 1 < word.size()) return apply(*spec, word.substr(at + 1));
      if (i + 1 == args.size()) {
        return std::unexpected(error("option -" + std::string(1, word[at]) + " needs a value"));
      }
      return apply(*spec, args[++i]);
    }
    return {};
  }

  bool given(const OptionSpec& spec) const { return std::ranges::find(seen_, &spec) != seen_.end(); }

  bool set_taken(int set) const {
    return std::ranges::any_of(seen_, [&](const OptionSpec* s) { return s->exclusive_set == set; });
  }

  Result apply(const OptionSpec& spec, std::string_view value) {
    if (spec.scope == Scope::Session && allowed_ == Scope::Command) {
      return std::unexpected(error("option " + dashed(spec) + " is for the whole session: give it to orvik-session shell"));
    }
    if (given(spec)) return std::unexpected(error("option " + dashed(spec) + " given twice"));
    if (spec.exclusive_set != 0) {
      const auto other = std::ranges::find(seen_, spec.exclusive_set, &OptionSpec::exclusive_set);
      if (other != seen_.end()) {
        return std::unexpected(error("options " + dashed(**other) + " and " + dashed(spec) + " cannot be combined" +
                                     std::string(kExclusiveReasons[spec.exclusive_set])));
      }
    }
    seen_.push_back(&spec);
    if (auto ok = spec.apply(words_.options, value); !ok) {
      return std::unexpected(error("option " + dashed(spec) + " " + ok.error().message));
    }
    return {};
  }

  Words words_;
  Scope allowed_;
  std::vector<const OptionSpec*> seen_;
};

}  // namespace

Options::Options() {
  const rsc::ClientConfig library;
  host = library.host;
  port = library.port;
  io_timeout_ms = library.io_timeout.whole_millis();
  connect_retry_interval_ms = library.connect_retry_interval.whole_millis();
  // The Python Client's deadline, not the library's four minutes: a gateway
  // that has not answered in it is not coming up soon for an operator at a
  // prompt.
  connect_deadline_ms = rsc::kInteractiveConnectDeadline.whole_millis();
}

std::span<const OptionSpec> option_table() { return kOptions; }

rsc::ClientConfig client_config(const Options& options) {
  rsc::ClientConfig config;
  config.host = options.host;
  config.port = options.port;
  config.connect_deadline = rsc::Duration::from_millis(options.connect_deadline_ms);
  config.io_timeout = rsc::Duration::from_millis(options.io_timeout_ms);
  config.connect_retry_interval = rsc::Duration::from_millis(options.connect_retry_interval_ms);
  if (options.tls) config.tls = options.tls_files;
  return config;
}

std::string_view group_title(Group group) { return kGroupTitles[static_cast<std::size_t>(group)]; }

std::expected<Words, UsageError> parse_command_line(std::span<const std::string_view> args,
                                                    const Environment& environment) {
  Parser parser(Options{}, Scope::Session);
  if (auto ok = parser.parse(args); !ok) return std::unexpected(std::move(ok.error()));
  if (auto ok = parser.environment(environment); !ok) return std::unexpected(std::move(ok.error()));
  Words& parsed = parser.words();
  if (parsed.options.password_file && !std::holds_alternative<login::User>(parsed.options.login)) {
    return std::unexpected(error("option --password-file needs --user NAME"));
  }
  const rsc::TlsConfig& files = parsed.options.tls_files;
  if (!parsed.options.tls && files != rsc::TlsConfig{}) {
    return std::unexpected(error("options --ca-file, --cert, --key and --server-name need --tls"));
  }
  if (files.cert_file.has_value() != files.key_file.has_value()) {
    return std::unexpected(error("options --cert and --key go together: a client certificate and its key"));
  }
  return std::move(parsed);
}

std::expected<Words, UsageError> parse_shell_line(std::span<const std::string_view> args, const Options& base) {
  Parser parser(base, Scope::Command);
  if (auto ok = parser.parse(args); !ok) return std::unexpected(std::move(ok.error()));
  return std::move(parser.words());
}

std::optional<std::uint64_t> parse_number(std::string_view text, std::uint64_t max) {
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    base = 16;
  }
  // from_chars would take a leading '-' for a signed type only, but also
  // stops early without complaint: both ends are checked here.
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, failed] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (failed != std::errc{} || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

bool is_utf8(std::string_view text) {
  return rsc::validate_utf8(rsc::ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()))
      .has_value();
}

std::string quoted_word(std::string_view text) { return "'" + std::string(text) + "'"; }

}  // namespace orvik_session
