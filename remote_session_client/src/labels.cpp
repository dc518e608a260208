// The transcript label of every request: its arm name and its payload as
// key=value pairs, values raw. Secrets never reach a label: the password proof
// and the chat text are replaced by fixed markers, and the account selector is
// left out altogether.
#include <string>
#include <string_view>
#include <variant>

#include "remote_session_client/protocol.h"
#include "remote_session_client/text.h"

namespace remote_session_client {

namespace {

constexpr std::string_view kRedacted = "<redacted>";
constexpr std::string_view kRedactedLength = "<redacted-length>";
constexpr std::string_view kInvalid = "<invalid>";

std::string join(std::initializer_list<std::string_view> pieces) {
  std::size_t size = 0;
  for (std::string_view piece : pieces) size += piece.size();
  std::string out;
  out.reserve(size);
  for (std::string_view piece : pieces) out.append(piece);
  return out;
}

std::string login_label(const AuthMode& mode) {
  struct Visitor {
    std::string operator()(const auth::Password& p) const {
      return join({"passwordLogin profile=", p.profile, " proof=", kRedacted});
    }
    std::string operator()(const auth::Anonymous& a) const {
      return join({"anonymousLogin profile=", a.profile});
    }
    std::string operator()(const auth::Guest& g) const {
      return join({"guestLogin profile=", g.profile});
    }
  };
  return std::visit(Visitor{}, mode);
}

std::string grants_joined(const std::vector<std::string>& grants) {
  std::string out;
  for (std::size_t i = 0; i < grants.size(); ++i) {
    if (i != 0) out.push_back(',');
    out.append(grants[i]);
  }
  return out;
}

// The label shows the word as it would be sent, or that it would be refused.
std::string adventure_label(std::string_view prefix, std::string_view token) {
  auto normalized = normalize_adventure_token(token);
  return join({prefix, normalized ? std::string_view(*normalized) : kInvalid});
}

struct LabelOf {
  std::string operator()(const request::AuthMethods&) const { return "authMethods"; }
  std::string operator()(const request::Login& r) const { return login_label(r.mode); }
  std::string operator()(const request::CapsetList&) const { return "capsetList"; }
  std::string operator()(const request::CapsetGet& r) const {
    return join({"capsetGet name=", r.name, " expected=", hex_u64_padded(r.expected)});
  }
  std::string operator()(const request::ServiceCatalog&) const { return "serviceCatalog"; }
  std::string operator()(const request::LauncherCatalog&) const { return "launcherCatalog"; }
  std::string operator()(const request::ServiceLaunch& r) const {
    return join({"serviceLaunch profile=", r.profile, " grants=", grants_joined(r.grants)});
  }
  std::string operator()(const request::SessionInfo&) const { return "sessionInfo"; }
  std::string operator()(const request::SystemMotd&) const { return "systemMotd"; }
  std::string operator()(const request::ChatSend& r) const {
    return join({"chatSend channel=", r.channel, " text=", kRedactedLength});
  }
  std::string operator()(const request::ChatSchemaDenialProbe&) const {
    return join(
        {"chatSchemaDenialProbe channel=", kSchemaDenialChannel, " text=", kRedactedLength});
  }
  std::string operator()(const request::ChatJoin& r) const {
    return join({"chatJoin channel=", r.channel, " handle=", r.handle});
  }
  std::string operator()(const request::ChatLeave& r) const {
    return join({"chatLeave channel=", r.channel});
  }
  std::string operator()(const request::ChatPoll& r) const {
    return join({"chatPoll max_events=", std::to_string(r.max_events)});
  }
  std::string operator()(const request::ChatWho& r) const {
    return join({"chatWho channel=", r.channel});
  }
  std::string operator()(const request::AdventureStatus&) const { return "adventureStatus"; }
  std::string operator()(const request::AdventureLook&) const { return "adventureLook"; }
  std::string operator()(const request::AdventureInventory&) const { return "adventureInventory"; }
  std::string operator()(const request::AdventureGo& r) const {
    return adventure_label("adventureGo direction=", r.direction);
  }
  std::string operator()(const request::AdventureTake& r) const {
    return adventure_label("adventureTake item=", r.item);
  }
  std::string operator()(const request::AdventureDrop& r) const {
    return adventure_label("adventureDrop item=", r.item);
  }
  std::string operator()(const request::AdventureUse& r) const {
    return adventure_label("adventureUse item=", r.item);
  }
  std::string operator()(const request::PaperclipsInitial&) const { return "paperclipsInitial"; }
  std::string operator()(const request::PaperclipsCommand& r) const {
    auto accepted = normalize_paperclips_command(r.text);
    return join({"paperclipsCommand text=", accepted ? std::string_view(*accepted) : kInvalid});
  }
  std::string operator()(const request::PaperclipsStatus&) const { return "paperclipsStatus"; }
  std::string operator()(const request::PaperclipsProjects&) const { return "paperclipsProjects"; }
  std::string operator()(const request::Logout&) const { return "logout"; }
};

}  // namespace

std::string label(const RequestKind& request) { return std::visit(LabelOf{}, request); }

}  // namespace remote_session_client
