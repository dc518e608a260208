#include "requests.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "options.h"

namespace orvik_session {

namespace rsc = remote_session_client;
namespace rq = remote_session_client::request;

// The values given for one request, by field name; a field not given reads
// as its default.
class FieldValues {
 public:
  using Value = std::variant<std::string, std::vector<std::string>, std::uint64_t>;

  void set(std::string_view name, Value value) { values_.push_back({name, std::move(value)}); }
  Value* find(std::string_view name) {
    auto at = std::ranges::find(values_, name, &Named::first);
    return at == values_.end() ? nullptr : &at->second;
  }
  const Value* find(std::string_view name) const {
    auto at = std::ranges::find(values_, name, &Named::first);
    return at == values_.end() ? nullptr : &at->second;
  }

  std::string text(std::string_view name) const { return get<std::string>(name); }
  std::vector<std::string> list(std::string_view name) const { return get<std::vector<std::string>>(name); }
  std::uint64_t u64(std::string_view name) const { return get<std::uint64_t>(name); }
  std::uint16_t u16(std::string_view name) const {
    // Checked against 65535 when it was parsed.
    return static_cast<std::uint16_t>(get<std::uint64_t>(name));
  }

 private:
  template <typename T>
  T get(std::string_view name) const {
    const Value* value = find(name);
    return value ? std::get<T>(*value) : T{};
  }

  using Named = std::pair<std::string_view, Value>;
  std::vector<Named> values_;
};

namespace {

using T = FieldType;
using Build = rsc::RequestKind (*)(const FieldValues&);

constexpr RequestFieldSpec kChannel{"channel", T::Text};
constexpr RequestFieldSpec kItem{"item", T::Text};

// The login arms are not here: the tool's own login step sends them, from
// --guest, --anonymous or --user, so that a password never has to be typed
// as a FIELD=VALUE into a command line (and the process list).
constexpr RequestKindSpec kKinds[] = {
    {"authMethods", {}, "authMethods", [](const FieldValues&) -> rsc::RequestKind { return rq::AuthMethods{}; }},
    {"capsetList", {}, "capsetList", [](const FieldValues&) -> rsc::RequestKind { return rq::CapsetList{}; }},
    {"capsetGet", {{{"name", T::Text}, {"expectedInterfaceId", T::U64}}}, "capGranted",
     [](const FieldValues& f) -> rsc::RequestKind { return rq::CapsetGet{f.text("name"), f.u64("expectedInterfaceId")}; }},
    {"serviceCatalog", {}, "serviceCatalog", [](const FieldValues&) -> rsc::RequestKind { return rq::ServiceCatalog{}; }},
    {"launcherCatalog", {}, "launcherCatalog", [](const FieldValues&) -> rsc::RequestKind { return rq::LauncherCatalog{}; }},
    {"serviceLaunch", {{{"profile", T::Text}, {"grants", T::TextList}}}, "serviceLaunch",
     [](const FieldValues& f) -> rsc::RequestKind { return rq::ServiceLaunch{f.text("profile"), f.list("grants")}; }},
    {"sessionInfo", {}, "sessionInfo", [](const FieldValues&) -> rsc::RequestKind { return rq::SessionInfo{}; }},
    {"systemMotd", {}, "systemMotd", [](const FieldValues&) -> rsc::RequestKind { return rq::SystemMotd{}; }},
    {"chatSend", {{kChannel, {"text", T::Text}}}, "chatSent",
     [](const FieldValues& f) -> rsc::RequestKind { return rq::ChatSend{f.text("channel"), f.text("text")}; }},
    {"chatSchemaDenialProbe", {}, "chatSent", [](const FieldValues&) -> rsc::RequestKind { return rq::ChatSchemaDenialProbe{}; }},
    {"chatJoin", {{kChannel, {"handle", T::Text}}}, "chatJoined",
     [](const FieldValues& f) -> rsc::RequestKind { return rq::ChatJoin{f.text("channel"), f.text("handle")}; }},
    {"chatLeave", {{kChannel}}, "chatLeft", [](const FieldValues& f) -> rsc::RequestKind { return rq::ChatLeave{f.text("channel")}; }},
    {"chatPoll", {{{"maxEvents", T::U16}}}, "chatPollEvents",
     [](const FieldValues& f) -> rsc::RequestKind { return rq::ChatPoll{f.u16("maxEvents")}; }},
    {"chatWho", {{kChannel}}, "chatWhoMembers", [](const FieldValues& f) -> rsc::RequestKind { return rq::ChatWho{f.text("channel")}; }},
    {"adventureStatus", {}, "adventureStatus", [](const FieldValues&) -> rsc::RequestKind { return rq::AdventureStatus{}; }},
    {"adventureLook", {}, "adventureLook", [](const FieldValues&) -> rsc::RequestKind { return rq::AdventureLook{}; }},
    {"adventureInventory", {}, "adventureInventory", [](const FieldValues&) -> rsc::RequestKind { return rq::AdventureInventory{}; }},
    {"adventureGo", {{{"direction", T::Text}}}, "adventureGo",
     [](const FieldValues& f) -> rsc::RequestKind { return rq::AdventureGo{f.text("direction")}; }},
    {"adventureTake", {{kItem}}, "adventureTake", [](const FieldValues& f) -> rsc::RequestKind { return rq::AdventureTake{f.text("item")}; }},
    {"adventureDrop", {{kItem}}, "adventureDrop", [](const FieldValues& f) -> rsc::RequestKind { return rq::AdventureDrop{f.text("item")}; }},
    {"adventureUse", {{kItem}}, "adventureUse", [](const FieldValues& f) -> rsc::RequestKind { return rq::AdventureUse{f.text("item")}; }},
    // The codec refuses the paperclips requests with its own message; they
    // are here so that an operator gets that message rather than ours.
    {"paperclipsInitial", {}, "paperclipsInitial", [](const FieldValues&) -> rsc::RequestKind { return rq::PaperclipsInitial{}; }},
    {"paperclipsCommand", {{{"text", T::Text}}}, "paperclipsCommand",
     [](const FieldValues& f) -> rsc::RequestKind { return rq::PaperclipsCommand{f.text("text")}; }},
    {"paperclipsStatus", {}, "paperclipsStatus", [](const FieldValues&) -> rsc::RequestKind { return rq::PaperclipsStatus{}; }},
    {"paperclipsProjects", {}, "paperclipsProjects", [](const FieldValues&) -> rsc::RequestKind { return rq::PaperclipsProjects{}; }},
    {"logout", {}, "loggedOut", [](const FieldValues&) -> rsc::RequestKind { return rq::Logout{}; }},
};

template <typename Items, typename Name>
std::string listed(const Items& items, Name name) {
  std::string out;
  for (const auto& item : items) {
    if (name(item).empty()) continue;
    if (!out.empty()) out += ", ";
    out += name(item);
  }
  return out.empty() ? "none" : out;
}

UsageError field_error(const RequestKindSpec& spec, std::string text) {
  return UsageError{text + "; the fields of " + std::string(spec.kind) + " are: " +
                    listed(spec.fields, [](const RequestFieldSpec& f) { return f.name; })};
}

std::expected<FieldValues::Value, UsageError> parse_value(const RequestKindSpec& spec,
                                                          const RequestFieldSpec& field,
                                                          std::string_view text) {
  switch (field.type) {
    case T::Text:
    case T::TextList:
      if (is_utf8(text)) return std::string(text);
      return std::unexpected(UsageError{"field " + std::string(field.name) + " of " + std::string(spec.kind) +
                                        " takes UTF-8 text, not " + quoted_word(text)});
    case T::U16:
    case T::U64:
      if (auto number = parse_number(text, field.type == T::U16 ? UINT16_MAX : UINT64_MAX)) return *number;
      return std::unexpected(UsageError{"field " + std::string(field.name) + " of " + std::string(spec.kind) +
                                        " takes " + std::string(describe(field.type)) + ", not " +
                                        quoted_word(text)});
  }
  return std::unexpected(UsageError{"unreachable field type"});
}

}  // namespace

std::string_view describe(FieldType type) {
  switch (type) {
    case T::Text: return "text";
    case T::TextList: return "text, given once per element";
    case T::U16: return "a number from 0 to 65535 (decimal or 0x hex)";
    case T::U64: return "a number from 0 to 2^64-1 (decimal or 0x hex)";
  }
  return "";
}

std::span<const RequestKindSpec> request_kinds() { return kKinds; }

std::expected<command::Request, UsageError> build_request(std::string_view kind,
                                                          std::span<const std::string_view> assignments) {
  const auto* spec = std::ranges::find(kKinds, kind, &RequestKindSpec::kind);
  if (spec == std::end(kKinds)) {
    return std::unexpected(UsageError{"unknown request kind '" + std::string(kind) + "'; the kinds are: " +
                                      listed(kKinds, [](const RequestKindSpec& s) { return s.kind; })});
  }
  FieldValues values;
  for (std::string_view assignment : assignments) {
    const auto equals = assignment.find('=');
    if (equals == std::string_view::npos) {
      return std::unexpected(field_error(*spec, "expected FIELD=VALUE, not '" + std::string(assignment) + "'"));
    }
    const std::string_view name = assignment.substr(0, equals);
    const auto* field = std::ranges::find(spec->fields, name, &RequestFieldSpec::name);
    if (name.empty() || field == spec->fields.end()) {
      return std::unexpected(field_error(*spec, "unknown field '" + std::string(name) + "'"));
    }
    auto value = parse_value(*spec, *field, assignment.substr(equals + 1));
    if (!value) return std::unexpected(std::move(value.error()));
    FieldValues::Value* given = values.find(name);
    if (field->type == T::TextList) {
      if (!given) {
        values.set(field->name, std::vector<std::string>{});
        given = values.find(name);
      }
      std::get<std::vector<std::string>>(*given).push_back(std::move(std::get<std::string>(*value)));
    } else if (given) {
      return std::unexpected(UsageError{"field " + std::string(name) + " of " + std::string(spec->kind) +
                                        " given twice"});
    } else {
      values.set(field->name, std::move(*value));
    }
  }
  return command::Request{spec->build(values), spec->answer};
}

}  // namespace orvik_session
