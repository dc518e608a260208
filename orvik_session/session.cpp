#include "session.h"

#include <string_view>
#include <utility>

#include "password.h"
#include "transport.h"

namespace orvik_session {

namespace rsc = remote_session_client;

namespace {

// The login of the options, the password taken from `password` (read now
// if it comes from the terminal).
std::expected<rsc::AuthMode, UsageError> auth_mode(const Options& options, std::optional<Password>& password) {
  struct Visitor {
    const Options& options;
    std::optional<Password>& password;
    std::expected<rsc::AuthMode, UsageError> operator()(std::monostate) const {
      return std::unexpected(UsageError{"no login given: give --guest, --anonymous or --user NAME"});
    }
    std::expected<rsc::AuthMode, UsageError> operator()(const login::Guest&) const {
      return rsc::AuthMode{rsc::auth::Guest{options.profile}};
    }
    std::expected<rsc::AuthMode, UsageError> operator()(const login::Anonymous&) const {
      return rsc::AuthMode{rsc::auth::Anonymous{options.profile}};
    }
    std::expected<rsc::AuthMode, UsageError> operator()(const login::User& user) const {
      auto secret = password->take();
      if (!secret) return std::unexpected(std::move(secret.error()));
      const std::string_view text = secret->view();
      return rsc::AuthMode{rsc::auth::Password{
          rsc::LoginSelector{rsc::LoginSelector::Tag::AccountName, rsc::Bytes(user.name.begin(), user.name.end())},
          options.profile, rsc::Bytes(text.begin(), text.end())}};
    }
  };
  return std::visit(Visitor{options, password}, options.login);
}

}  // namespace

std::expected<Session, rsc::Transcript> Session::open(const Options& options, bool log_in, Failures& failures) {
  // A password file that cannot be read, or no terminal to ask, is found
  // before anything is sent.
  std::optional<Password> password;
  if (const auto* user = std::get_if<login::User>(&options.login); user && log_in) {
    auto prepared = Password::prepare(user->name, options.password_file);
    if (!prepared) {
      failures.note(prepared.error());
      return std::unexpected(rsc::Transcript{});
    }
    password = std::move(*prepared);
  }

  auto connected = rsc::connect(client_config(options), gateway_transport());
  if (!connected) {
    failures.note(connected.error().error);
    return std::unexpected(std::move(connected.error().transcript));
  }
  Session session(std::move(*connected));
  if (!log_in) return session;

  auto mode = auth_mode(options, password);
  password.reset();
  if (!mode) {
    failures.note(mode.error());
    return std::unexpected(session.transcript());
  }
  auto started = session.client_.login(std::move(*mode));
  if (!started) {
    failures.note(started.error());
    return std::unexpected(session.transcript());
  }
  session.logged_in_ = true;
  return session;
}

void Session::saw(const rsc::RequestKind& request, const rsc::ResponseKind& answer) {
  const auto* logged_out = std::get_if<rsc::response::LoggedOut>(&answer);
  if (std::holds_alternative<rsc::request::Logout>(request) && logged_out && logged_out->value) {
    ended_by_request_ = true;
  }
}

bool Session::logout_due() const {
  return logged_in_ && client_.in_step() && !client_.logged_out() && !ended_by_request_;
}

void Session::close(Failures& failures) {
  if (!logout_due()) return;
  if (auto out = client_.logout(); !out) failures.note(out.error());
}

}  // namespace orvik_session
