// Converters used by decode_response that are not part of the public parse
// API, and the small field helpers every converter shares.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <capnp/list.h>

#include "decode_budget.h"
#include "orvik_config/orvik.capnp.h"
#include "remote_session_client/parse.h"
#include "remote_session_client/protocol_error.h"
#include "remote_session_client/records.h"

namespace remote_session_client {

// Converts every element of a wire list with `parse_element`, in order. The
// list is charged to the budget and its storage reserved once, before the
// first record; the first failing element fails the whole list.
template <typename WireList, typename ParseElement>
auto parse_list(WireList list, DecodeBudget& budget, ParseElement parse_element)
    -> std::expected<std::vector<typename decltype(parse_element(list[0], budget))::value_type>,
                     ProtocolError> {
  std::vector<typename decltype(parse_element(list[0], budget))::value_type> out;
  if (list.size() == 0) return out;
  if (auto e = budget.take_elements(list.size())) return std::unexpected(std::move(*e));
  out.reserve(list.size());
  for (auto element : list) {
    auto parsed = parse_element(element, budget);
    if (!parsed) return std::unexpected(std::move(parsed.error()));
    out.push_back(std::move(*parsed));
  }
  return out;
}

// The converters below take the response's budget (see decode_budget.h);
// the public ones in parse.h call them with an unlimited budget.

// Charges the text to `budget` before validating and copying it.
std::expected<std::string, ProtocolError> parse_text(capnp::Text::Reader text,
                                                     DecodeBudget& budget);

// Fills `out` from a Text field; returns the failure, if any. Lets each
// converter read its fields as a flat sequence where the first failure wins.
inline std::optional<ProtocolError> assign_text(std::string& out, capnp::Text::Reader text,
                                                DecodeBudget& budget) {
  auto parsed = parse_text(text, budget);
  if (!parsed) return std::move(parsed.error());
  out = std::move(*parsed);
  return std::nullopt;
}

std::expected<std::vector<std::string>, ProtocolError> parse_text_list(
    capnp::List<capnp::Text>::Reader list, DecodeBudget& budget);

inline std::optional<ProtocolError> assign_text_list(std::vector<std::string>& out,
                                                     capnp::List<capnp::Text>::Reader list,
                                                     DecodeBudget& budget) {
  auto parsed = parse_text_list(list, budget);
  if (!parsed) return std::move(parsed.error());
  out = std::move(*parsed);
  return std::nullopt;
}

// Enumeration names; a value outside its table is "unknown".
std::string_view auth_method_kind_name(std::uint16_t value);
std::string_view principal_kind_name(std::uint16_t value);
std::string_view auth_strength_name(std::uint16_t value);
std::string_view remote_error_code_name(std::uint16_t value);

std::expected<std::vector<AuthMethodInfo>, ProtocolError> parse_auth_methods(
    capnp::List<orvik_capnp::RemoteAuthMethod>::Reader list, DecodeBudget& budget);
std::expected<SessionInfoSummary, ProtocolError> parse_session_info(
    orvik_capnp::SessionInfo::Reader info, DecodeBudget& budget);
std::expected<SessionStarted, ProtocolError> parse_session_started(
    orvik_capnp::RemoteSessionSummary::Reader summary, DecodeBudget& budget);
std::expected<RemoteErrorInfo, ProtocolError> parse_remote_error(
    orvik_capnp::RemoteError::Reader error, DecodeBudget& budget);
std::expected<CapInfo, ProtocolError> parse_cap_entry(orvik_capnp::RemoteCapEntry::Reader entry,
                                                      DecodeBudget& budget);
std::expected<std::vector<CapInfo>, ProtocolError> parse_capset_list(
    capnp::List<orvik_capnp::RemoteCapEntry>::Reader list, DecodeBudget& budget);

std::expected<std::vector<ServiceCatalogEntry>, ProtocolError> parse_service_catalog(
    capnp::List<orvik_capnp::RemoteServiceCatalogEntry>::Reader list, DecodeBudget& budget);
std::expected<std::vector<LauncherCatalogEntry>, ProtocolError> parse_launcher_catalog(
    capnp::List<orvik_capnp::RemoteLauncherCatalogEntry>::Reader list, DecodeBudget& budget);
std::expected<ServiceLaunchStatus, ProtocolError> parse_service_launch_status(
    orvik_capnp::RemoteServiceLaunchStatus::Reader status, DecodeBudget& budget);

std::expected<std::vector<ChatEventInfo>, ProtocolError> parse_chat_poll_events(
    orvik_capnp::RemoteChatPollResult::Reader result, DecodeBudget& budget);
std::expected<std::vector<std::string>, ProtocolError> parse_chat_who_members(
    orvik_capnp::RemoteChatWhoResult::Reader result, DecodeBudget& budget);

}  // namespace remote_session_client
