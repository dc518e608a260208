// The converters decode_response calls, from Cap'n Proto readers of the
// gateway schema to owned records, and the field reader they share. Each
// takes the response's budget (decode_budget.h). They may let kj::Exception
// escape from a malformed pointer: only decode_response's boundary catches it.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <capnp/list.h>

#include "decode_budget.h"
#include "orvik_config/orvik.capnp.h"
#include "remote_session_client/protocol_error.h"
#include "remote_session_client/records.h"

namespace remote_session_client {

// Charges a text that must be UTF-8 to `budget`, then validates it; the
// failure, if any. Nothing is copied.
std::optional<ProtocolError> check_text(capnp::Text::Reader text, DecodeBudget& budget);

// Text that must be UTF-8, charged to `budget` before it is validated and
// copied into an owned string.
std::expected<std::string, ProtocolError> parse_text(capnp::Text::Reader text,
                                                     DecodeBudget& budget);

// Each element validated and copied, in wire order; the first bad one fails all.
std::expected<std::vector<std::string>, ProtocolError> parse_text_list(
    capnp::List<capnp::Text>::Reader list, DecodeBudget& budget);

// Reads one record's fields in the order of its table, one line per field,
// keeping the response's budget and the first failure. Once a field failed,
// every later one is skipped without calling its getter: a getter may throw
// on a malformed pointer, and the failure reported must stay the first.
// Inline and allocation-free; the success path moves each value once.
class FieldReader {
 public:
  explicit FieldReader(DecodeBudget& budget) : budget_(budget) {}
  FieldReader(const FieldReader&) = delete;
  FieldReader& operator=(const FieldReader&) = delete;

  // `out` from the field `Get` of `wire`, through `convert(value, budget)`:
  // a fallible converter, or one that cannot fail.
  template <auto Get, typename Wire, typename Out, typename Convert>
  void read(Out& out, const Wire& wire, Convert&& convert) {
    if (error_) return;
    convert_into(out, (wire.*Get)(), convert);
  }

  // A Text field, checked and then copied straight into `out`: a CapSet of
  // 10,000 entries reads 20,000 of them, and each move of a string through a
  // result costs a copy of its inline bytes.
  template <auto Get, typename Wire>
  void read(std::string& out, const Wire& wire) {
    if (error_) return;
    const capnp::Text::Reader text = (wire.*Get)();
    if (auto e = check_text(text, budget_)) {
      error_.emplace(std::move(*e));
      return;
    }
    out.assign(text.begin(), text.size());
  }

  // `out` from an already read wire value through `convert`, unless a field
  // failed before.
  template <typename Out, typename Value, typename Convert>
  void convert_into(Out& out, Value value, Convert&& convert) {
    if (error_) return;
    auto converted = convert(value, budget_);
    if constexpr (requires { converted.error(); }) {
      if (!converted) {
        error_.emplace(std::move(converted.error()));
        return;
      }
      out = std::move(*converted);
    } else {
      out = std::move(converted);
    }
  }

  // A Text or List(Text) field.
  template <auto Get, typename Wire, typename Out>
  void read(Out& out, const Wire& wire) {
    read<Get>(out, wire, [](auto value, DecodeBudget& budget) { return parse_field(value, budget); });
  }

  bool failed() const { return error_.has_value(); }
  ProtocolError take_failure() { return std::move(*error_); }

  // The record, or the first failure.
  template <typename Record>
  std::expected<Record, ProtocolError> finish(Record&& record) {
    static_assert(!std::is_reference_v<Record>, "finish takes the record by move");
    if (error_) return std::unexpected(std::move(*error_));
    return std::move(record);
  }

 private:
  static auto parse_field(capnp::Text::Reader text, DecodeBudget& budget) {
    return parse_text(text, budget);
  }
  static auto parse_field(capnp::List<capnp::Text>::Reader list, DecodeBudget& budget) {
    return parse_text_list(list, budget);
  }

  DecodeBudget& budget_;
  std::optional<ProtocolError> error_;
};

// Every element of a wire list as a record, in order, each filled in place by
// `fill(fields, record, element)`. The list is charged to the budget and its
// storage reserved once, before the first record; the first failing element
// fails the whole list.
template <typename Record, typename WireList, typename Fill>
std::expected<std::vector<Record>, ProtocolError> fill_list(WireList list, DecodeBudget& budget, Fill&& fill) {
  std::vector<Record> out;
  if (list.size() == 0) return out;
  if (auto e = budget.take_elements(list.size())) return std::unexpected(std::move(*e));
  out.reserve(list.size());
  FieldReader fields(budget);
  for (auto element : list) {
    fill(fields, out.emplace_back(), element);
    if (fields.failed()) return std::unexpected(fields.take_failure());
  }
  return out;
}

// One record, filled by `fill(fields, record, wire)` as fill_list fills each
// element.
template <typename Record, typename Wire, typename Fill>
std::expected<Record, ProtocolError> parse_record(Wire wire, DecodeBudget& budget, Fill&& fill) {
  FieldReader fields(budget);
  Record record;
  fill(fields, record, wire);
  return fields.finish(std::move(record));
}

// fill_list with `parse_element(element, budget)`, a converter that returns
// each record or its failure.
template <typename WireList, typename ParseElement>
auto parse_list(WireList list, DecodeBudget& budget, ParseElement parse_element)
    -> std::expected<std::vector<typename decltype(parse_element(list[0], budget))::value_type>,
                     ProtocolError> {
  using Record = typename decltype(parse_element(list[0], budget))::value_type;
  return fill_list<Record>(list, budget, [&](FieldReader& fields, Record& out, auto element) {
    fields.convert_into(out, element, parse_element);
  });
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
