// The operations against a scripted gateway: what each accepts, records and
// returns, how each handles a refusal and an unexpected answer, and the
// session state they keep.
#include <cstdint>
#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include "remote_session_client/client.h"
#include "test_gateway.h"

namespace remote_session_client {
namespace {

using testing::answer;
using testing::TestGateway;
using E = RemoteSessionClientError;
using Root = orvik_capnp::RemoteGatewayResponse::Builder;
namespace schema = orvik_capnp;

constexpr std::uint64_t kSystemInfoId = 0xfbbdc602980cb986ULL;

// Any operation, reduced to "failed with this error" or not.
using Call = std::function<std::optional<E>(RemoteSessionClient&)>;

template <typename Result>
std::optional<E> failure_of(Result result) {
  if (result) return std::nullopt;
  return std::move(result.error());
}

auth::Password password_mode(std::string proof) {
  return auth::Password{LoginSelector{LoginSelector::Tag::AccountName, Bytes{'o', 'p', 'e', 'r', 'a', 't', 'o', 'r'}},
                        "operator", Bytes(proof.begin(), proof.end())};
}

void fill_session(schema::SessionInfo::Builder session, const char* kind_display) {
  session.setProfile("operator");
  session.setAuthStrength(schema::AuthStrength::PASSWORD);
  session.setSessionId(kj::heapArray<kj::byte>({0x00, 0x0a, 0xff}).asPtr());
  auto principal = session.initPrincipal();
  principal.setKind(std::string_view(kind_display) == "guest" ? schema::PrincipalKind::GUEST
                                                               : schema::PrincipalKind::HUMAN);
  principal.setDisplayName("console");
}

auto session_started(const char* kind) {
  return answer([kind](Root root) {
    auto started = root.initSessionStarted();
    started.setSummaryValue(7);
    fill_session(started.initSession(), kind);
  });
}
auto denied(const char* message) {
  return answer([message](Root root) {
    auto error = root.initError();
    error.setCode(schema::RemoteErrorCode::AUTHENTICATION_DENIED);
    error.setMessage(message);
  });
}
auto logged_out(bool value) {
  return answer([value](Root root) { root.setLoggedOut(value); });
}
auto motd(const char* text) {
  return answer([text](Root root) { root.setSystemMotd(text); });
}
void fill_cap(schema::RemoteCapEntry::Builder entry, const char* name, std::uint64_t id) {
  entry.setName(name);
  entry.setInterfaceId(id);
  entry.setTransferPolicy("copy");
}

RemoteSessionClient connected(const TestGateway& gateway) {
  auto client = connect(gateway.config());
  EXPECT_TRUE(client) << to_string(client.error());
  return std::move(*client);
}

template <typename Event>
std::vector<Event> events_of(const RemoteSessionClient& client) {
  std::vector<Event> out;
  for (const auto& event : client.transcript().events()) {
    if (auto* e = std::get_if<Event>(&event)) out.push_back(*e);
  }
  return out;
}

// Every text the transcript holds, flattened.
std::string transcript_text(const Transcript& transcript) {
  std::string all;
  for (const auto& event : transcript.events()) {
    std::visit(
        [&](const auto& e) {
          using T = std::decay_t<decltype(e)>;
          if constexpr (requires { e.label; }) all += e.label + "\n";
          if constexpr (requires { e.target; }) all += e.target + "\n";
          if constexpr (requires { e.peer; }) all += e.peer + "\n";
          if constexpr (requires { e.message; }) all += e.code + " " + e.message + "\n";
          if constexpr (requires { e.principal; }) all += e.profile + " " + e.principal + "\n";
          if constexpr (std::is_same_v<T, event::SystemMotd> || std::is_same_v<T, event::Note>) {
            all += e.text + "\n";
          }
        },
        event);
  }
  return all;
}

// ---------------------------------------------------- the acceptance rule

struct Operation {
  std::string label;
  Call call;
  TestGateway::Step expected;  // an answer of the kind the operation accepts
  TestGateway::Step other;     // an answer of some other kind
  std::string other_kind;
};

std::vector<Operation> operations() {
  auto caps = answer([](Root root) { fill_cap(root.initCapsetList(1)[0], "session", 1); });
  return {
      {"authMethods", [](auto& c) { return failure_of(c.auth_methods()); },
       answer([](Root root) { root.initAuthMethods(0); }), logged_out(true), "loggedOut"},
      {"authMethods", [](auto& c) { return failure_of(c.list_auth_methods()); },
       answer([](Root root) { root.initAuthMethods(0); }), motd("x"), "systemMotd"},
      {"passwordLogin profile=operator proof=<redacted>",
       [](auto& c) { return failure_of(c.login(password_mode("hunter2"))); }, session_started("human"),
       motd("x"), "systemMotd"},
      {"guestLogin profile=visitor", [](auto& c) { return failure_of(c.login(auth::Guest{"visitor"})); },
       session_started("guest"), motd("x"), "systemMotd"},
      {"anonymousLogin profile=operator",
       [](auto& c) { return failure_of(c.login(auth::Anonymous{"operator"})); }, session_started("human"),
       logged_out(false), "loggedOut"},
      {"sessionInfo", [](auto& c) { return failure_of(c.session_info()); },
       answer([](Root root) { fill_session(root.initSessionInfo(), "human"); }), caps, "capsetList"},
      {"systemMotd", [](auto& c) { return failure_of(c.system_motd()); }, motd(""), caps, "capsetList"},
      {"capsetList", [](auto& c) { return failure_of(c.list_capset()); }, caps, motd("x"), "systemMotd"},
      {"capsetGet name=system_info expected=0xfbbdc602980cb986",
       [](auto& c) { return failure_of(c.get_capset_entry("system_info", kSystemInfoId)); },
       answer([](Root root) { fill_cap(root.initCapGranted(), "system_info", kSystemInfoId); }), caps,
       "capsetList"},
      {"capsetGet name=x expected=0x0000000000000001",
       [](auto& c) { return failure_of(c.get_capset_entry("x", 1)); },
       answer([](Root root) { fill_cap(root.initCapGranted(), "x", 1); }), logged_out(true), "loggedOut"},
      {"logout", [](auto& c) { return failure_of(c.logout()); }, logged_out(true), motd("x"), "systemMotd"},
      {"logout", [](auto& c) { return failure_of(c.logout()); }, logged_out(true), logged_out(false),
       "loggedOut(false)"},
  };
}

TEST(Operations, AcceptTheirOwnKindRefuseErrorsAndOtherKinds) {
  for (const Operation& op : operations()) {
    SCOPED_TRACE(op.label + " / " + op.other_kind);
    TestGateway gateway({op.expected, denied("bad \"proof\""), op.other, motd("still here")});
    RemoteSessionClient client = connected(gateway);

    EXPECT_EQ(op.call(client), std::nullopt);
    const std::size_t after_success = client.transcript().events().size();

    auto refused = op.call(client);
    ASSERT_TRUE(refused);
    EXPECT_EQ(to_string(*refused),
              "remote gateway denied request: code=authenticationDenied message=\"bad \\\"proof\\\"\"");
    const auto denials = events_of<event::Denied>(client);
    ASSERT_EQ(denials.size(), 1u);
    EXPECT_EQ(denials[0].code, "authenticationDenied");
    EXPECT_EQ(denials[0].message, "bad \"proof\"");
    EXPECT_EQ(denials[0].seq, 2u);
    // Request, Response, Denied.
    EXPECT_EQ(client.transcript().events().size(), after_success + 3);

    auto unexpected = op.call(client);
    ASSERT_TRUE(unexpected);
    EXPECT_EQ(to_string(*unexpected), "request " + op.label + " received unexpected response " + op.other_kind);
    // Request and Response only: the unexpected answer is not recorded further.
    EXPECT_EQ(client.transcript().events().size(), after_success + 5);
    EXPECT_TRUE(std::holds_alternative<event::Response>(client.transcript().events().back()));

    // Neither failure broke the connection.
    auto next = client.system_motd();
    ASSERT_TRUE(next) << to_string(next.error());
    EXPECT_EQ(*next, "still here");
    EXPECT_EQ(events_of<event::Request>(client).back().seq, 4u);
  }
}

// --------------------------------------------------- results and events

TEST(AuthMethods, ReturnsEveryMethodAndRecordsTheEnabledKinds) {
  TestGateway gateway({answer([](Root root) {
                         auto methods = root.initAuthMethods(3);
                         methods[0].setKind(schema::RemoteAuthMethodKind::PASSWORD);
                         methods[1].setKind(schema::RemoteAuthMethodKind::GUEST);
                         methods[1].setEnabled(true);
                         methods[1].setLabel("Guest");
                         methods[2].setKind(schema::RemoteAuthMethodKind::PASSKEY);
                       }),
                       answer([](Root root) { root.initAuthMethods(0); })});
  RemoteSessionClient client = connected(gateway);
  auto methods = client.auth_methods();
  ASSERT_TRUE(methods) << to_string(methods.error());
  ASSERT_EQ(methods->size(), 3u);
  EXPECT_EQ((*methods)[2].kind, "passkey");
  auto none = client.list_auth_methods();
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());

  const auto recorded = events_of<event::AuthMethods>(client);
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_EQ(recorded[0].enabled_kinds, std::vector<std::string>{"guest"});
  EXPECT_EQ(recorded[0].count, 3u);
  EXPECT_TRUE(recorded[1].enabled_kinds.empty());
  EXPECT_EQ(recorded[1].count, 0u);
}

TEST(SessionOperations, RecordWhatTheyReturn) {
  TestGateway gateway({
      answer([](Root root) { fill_session(root.initSessionInfo(), "human"); }),
      motd(""),
      answer([](Root root) {
        auto list = root.initCapsetList(2);
        fill_cap(list[0], "session", 0x80b87169c39aaf1cULL);
        fill_cap(list[1], "system_info", kSystemInfoId);
      }),
      answer([](Root root) { root.initCapsetList(0); }),
      // Granted under another id than asked: returned as it came.
      answer([](Root root) { fill_cap(root.initCapGranted(), "system_info", 0x80b87169c39aaf1cULL); }),
  });
  RemoteSessionClient client = connected(gateway);

  auto info = client.session_info();
  ASSERT_TRUE(info) << to_string(info.error());
  EXPECT_EQ(info->session_id_hex, "000aff");
  const auto info_event = events_of<event::SessionInfo>(client).at(0);
  EXPECT_EQ(info_event.profile, "operator");
  EXPECT_EQ(info_event.principal, "human:console");
  EXPECT_EQ(info_event.auth_strength, "password");

  auto text = client.system_motd();
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, "");
  EXPECT_EQ(events_of<event::SystemMotd>(client).at(0).text, "");

  auto caps = client.list_capset();
  ASSERT_TRUE(caps);
  EXPECT_EQ(caps->size(), 2u);
  auto empty = client.list_capset();
  ASSERT_TRUE(empty);
  const auto listed = events_of<event::CapsetList>(client);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].entries,
            (std::vector<std::string>{"session:0x80b87169c39aaf1c", "system_info:0xfbbdc602980cb986"}));
  EXPECT_EQ(listed[0].count, 2u);
  EXPECT_TRUE(listed[1].entries.empty());
  EXPECT_EQ(listed[1].count, 0u);

  auto granted = client.get_capset_entry("system_info", kSystemInfoId);
  ASSERT_TRUE(granted) << to_string(granted.error());
  EXPECT_EQ(granted->interface_id, 0x80b87169c39aaf1cULL);
  EXPECT_EQ(granted->transfer_policy, "copy");
  const auto grant_event = events_of<event::CapGranted>(client).at(0);
  EXPECT_EQ(grant_event.name, "system_info");
  EXPECT_EQ(grant_event.interface_id, 0x80b87169c39aaf1cULL);
}

// ------------------------------------------------------------ session state

TEST(SessionState, FollowsLoginAndLogoutAnswers) {
  struct Step {
    std::string what;
    Call call;
    TestGateway::Step answer;
    bool has_session;
    bool is_logged_out;
  };
  auto guest = [](auto& c) { return failure_of(c.login(auth::Guest{"visitor"})); };
  auto logout = [](auto& c) { return failure_of(c.logout()); };
  auto info = [](auto& c) { return failure_of(c.session_info()); };
  const Step steps[] = {
      {"login started", guest, session_started("guest"), true, false},
      {"logout kept the session", logout, logged_out(false), true, false},
      {"logout refused", logout, denied("no"), true, false},
      {"logout unexpected", logout, motd("x"), true, false},
      {"login unexpected", guest, motd("x"), true, false},
      {"logout", logout, logged_out(true), false, true},
      {"second logout", logout, logged_out(true), false, true},
      {"request after logout refused", info, denied("unauthenticated"), false, true},
      {"login refused after logout", guest, denied("no"), false, false},
      {"login again", guest, session_started("human"), true, false},
      {"login refused drops the session", guest, denied("no"), false, false},
  };
  std::vector<TestGateway::Step> script;
  for (const Step& step : steps) script.push_back(step.answer);
  TestGateway gateway(script);
  RemoteSessionClient client = connected(gateway);
  for (const Step& step : steps) {
    step.call(client);
    EXPECT_EQ(client.current_session().has_value(), step.has_session) << step.what;
    EXPECT_EQ(client.logged_out(), step.is_logged_out) << step.what;
  }
  EXPECT_EQ(gateway.requests().size(), std::size(steps));
}

TEST(Login, RecordsTheStartedSessionWithTheGuestPrincipalAlone) {
  TestGateway gateway({session_started("guest")});
  RemoteSessionClient client = connected(gateway);
  auto started = client.login(auth::Guest{"visitor"});
  ASSERT_TRUE(started) << to_string(started.error());
  EXPECT_EQ(started->summary_value, 7);
  EXPECT_EQ(client.current_session()->summary.principal_display_name, "console");
  const auto recorded = events_of<event::SessionStarted>(client).at(0);
  EXPECT_EQ(recorded.principal, "guest");
  EXPECT_EQ(recorded.profile, "operator");
  EXPECT_EQ(recorded.summary_value, 7);
}

TEST(Login, TheProofAppearsInNoTextOrEvent) {
  const std::string secret = "s3cr3t-Proof";
  TestGateway gateway({denied("wrong password"), motd("x")});
  RemoteSessionClient client = connected(gateway);
  auto refused = client.login(password_mode(secret));
  ASSERT_FALSE(refused);
  auto unexpected = client.login(password_mode(secret));
  ASSERT_FALSE(unexpected);
  const std::string texts = to_string(refused.error()) + "\n" + to_string(unexpected.error()) + "\n" +
                            transcript_text(client.transcript());
  EXPECT_EQ(texts.find(secret), std::string::npos) << texts;
  EXPECT_NE(texts.find("passwordLogin profile=operator proof=<redacted>"), std::string::npos) << texts;
  // It did travel to the gateway, exactly as given.
  const Bytes request = gateway.requests().at(0);
  EXPECT_NE(std::search(request.begin(), request.end(), secret.begin(), secret.end()), request.end());
}

}  // namespace
}  // namespace remote_session_client
