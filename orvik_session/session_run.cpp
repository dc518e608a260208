#include "session_run.h"

#include <unistd.h>

#include <optional>
#include <string>
#include <utility>

#include "exit_status.h"
#include "password.h"
#include "print.h"
#include "remote_session_client/client.h"
#include "remote_session_client/tls.h"
#include "report.h"
#include "response_tree.h"

namespace orvik_session {

namespace {

namespace rsc = remote_session_client;
namespace rs = remote_session_client::response;
using E = rsc::RemoteSessionClientError;
using Outcome = std::expected<rsc::ResponseKind, E>;

// The login the options ask for, with the password read now, before a
// connection waits on a person typing.
std::expected<std::optional<rsc::AuthMode>, UsageError> login_mode(const Options& options) {
  struct Visitor {
    const Options& options;
    std::expected<std::optional<rsc::AuthMode>, UsageError> operator()(std::monostate) const {
      return std::nullopt;
    }
    std::expected<std::optional<rsc::AuthMode>, UsageError> operator()(const login::Guest&) const {
      return rsc::AuthMode{rsc::auth::Guest{options.profile}};
    }
    std::expected<std::optional<rsc::AuthMode>, UsageError> operator()(const login::Anonymous&) const {
      return rsc::AuthMode{rsc::auth::Anonymous{options.profile}};
    }
    std::expected<std::optional<rsc::AuthMode>, UsageError> operator()(const login::User& user) const {
      auto secret = read_password(user);
      if (!secret) return std::unexpected(std::move(secret.error()));
      const std::string_view password = secret->view();
      return rsc::AuthMode{rsc::auth::Password{
          rsc::LoginSelector{rsc::LoginSelector::Tag::AccountName, rsc::Bytes(user.name.begin(), user.name.end())},
          options.profile, rsc::Bytes(password.begin(), password.end())}};
    }
  };
  return std::visit(Visitor{options}, options.login);
}

// The rule the library's operations apply, for a request sent as it is: the
// answer it is meant to get is the result, a gateway error is a refusal,
// anything else an unexpected response.
Outcome accept(rsc::Transacted answered, std::string_view answer) {
  if (rsc::kind_name(answered.kind) == answer) return std::move(answered.kind);
  if (auto* denied = std::get_if<rs::Error>(&answered.kind)) {
    return std::unexpected(E{E::Remote{std::move(denied->info.code), std::move(denied->info.message)}});
  }
  return std::unexpected(E{E::UnexpectedResponse{std::string(rsc::kind_name(answered.kind)),
                                                 std::move(answered.request_label)}});
}

// An operation's result as the answer it came in, for the printers.
template <typename Result, typename Wrap>
Outcome answered(rsc::ClientResult<Result> result, Wrap wrap) {
  if (!result) return std::unexpected(std::move(result.error()));
  return rsc::ResponseKind{wrap(std::move(*result))};
}

Outcome run_command(rsc::RemoteSessionClient& client, const Command& command) {
  struct Visitor {
    rsc::RemoteSessionClient& client;
    Outcome operator()(const command::Methods&) const {
      return answered(client.auth_methods(), [](auto r) { return rs::AuthMethods{.methods = std::move(r)}; });
    }
    Outcome operator()(const command::Info&) const {
      return answered(client.session_info(), [](auto r) { return rs::SessionInfo{.summary = std::move(r)}; });
    }
    Outcome operator()(const command::Motd&) const {
      return answered(client.system_motd(), [](auto r) { return rs::SystemMotd{.text = std::move(r)}; });
    }
    Outcome operator()(const command::Capset&) const {
      return answered(client.list_capset(), [](auto r) { return rs::CapsetList{.entries = std::move(r)}; });
    }
    Outcome operator()(const command::Get& get) const {
      return answered(client.get_capset_entry(get.name, get.interface_id),
                      [](auto r) { return rs::CapGranted{.entry = std::move(r)}; });
    }
    Outcome operator()(const command::Tunnel&) const { std::unreachable(); }  // main runs it
    Outcome operator()(const command::Request& request) const {
      auto answered = client.transact(request.request);
      if (!answered) return std::unexpected(std::move(answered.error()));
      return accept(std::move(*answered), request.answer);
    }
  };
  return std::visit(Visitor{client}, command);
}

// After a failed read or write the stream may be mid-frame: a logout would
// only wait out the time-out for an answer that is not coming.
bool stream_in_step(const E& error) {
  return !std::holds_alternative<E::Frame>(error.value) && !std::holds_alternative<E::Io>(error.value);
}

bool ended_the_session(const Command& command, const rsc::ResponseKind& answer) {
  const auto* request = std::get_if<command::Request>(&command);
  const auto* logged_out = std::get_if<rs::LoggedOut>(&answer);
  return request && std::holds_alternative<rsc::request::Logout>(request->request) && logged_out &&
         logged_out->value;
}

// The first failure decides the exit status and is the one line reported,
// after the transcript, so that it is the last thing on the screen.
class Failure {
 public:
  void note(const E& error) {
    if (status_ == kExitSuccess) {
      status_ = exit_status(error);
      text_ = rsc::to_string(error);
    }
  }
  int finish(const rsc::Transcript& transcript, bool show_transcript) const {
    if (show_transcript) write_out(STDERR_FILENO, transcript_text(transcript));
    if (status_ != kExitSuccess) report_failure(text_);
    return status_;
  }

 private:
  int status_ = kExitSuccess;
  std::string text_;
};

}  // namespace

int run_session(const Options& options) {
  auto mode = login_mode(options);
  if (!mode) {
    report_usage(mode.error());
    return kExitUsage;
  }

  auto connected = rsc::connect(client_config(options), rsc::tls_transport());
  if (!connected) {
    Failure failure;
    failure.note(connected.error().error);
    return failure.finish(connected.error().transcript, options.transcript);
  }
  rsc::RemoteSessionClient& client = *connected;

  Failure failure;
  if (*mode) {
    auto started = client.login(std::move(**mode));
    mode->reset();
    if (!started) {
      failure.note(started.error());
      return failure.finish(client.transcript(), options.transcript);
    }
  }

  auto outcome = run_command(client, options.command);
  bool logged_in = !std::holds_alternative<command::Methods>(options.command);
  if (outcome) {
    const Answer answer = answer_tree(*outcome);
    write_out(STDOUT_FILENO, options.json ? json_text(answer) : human_text(answer));
    if (ended_the_session(options.command, *outcome)) logged_in = false;
  } else {
    failure.note(outcome.error());
    if (!stream_in_step(outcome.error())) logged_in = false;
  }

  if (logged_in) {
    if (auto out = client.logout(); !out) failure.note(out.error());
  }
  return failure.finish(client.transcript(), options.transcript);
}

}  // namespace orvik_session
