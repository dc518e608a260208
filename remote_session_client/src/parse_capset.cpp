// CapSet entries, alone (capGranted) or as the capsetList answer.
#include "parse_internal.h"

namespace remote_session_client {

std::expected<CapInfo, ProtocolError> parse_cap_entry(orvik_capnp::RemoteCapEntry::Reader entry,
                                                      DecodeBudget& budget) {
  CapInfo info;
  if (auto e = assign_text(info.name, entry.getName(), budget)) {
    return std::unexpected(std::move(*e));
  }
  info.interface_id = entry.getInterfaceId();
  if (auto e = assign_text(info.transfer_policy, entry.getTransferPolicy(), budget)) {
    return std::unexpected(std::move(*e));
  }
  info.lease_expires_at_ms = entry.getLeaseExpiresAtMs();
  return info;
}

std::expected<std::vector<CapInfo>, ProtocolError> parse_capset_list(
    capnp::List<orvik_capnp::RemoteCapEntry>::Reader list, DecodeBudget& budget) {
  std::vector<CapInfo> out;
  if (list.size() == 0) return out;
  if (auto e = budget.take_elements(list.size())) return std::unexpected(std::move(*e));
  out.reserve(list.size());
  for (auto element : list) {
    auto entry = parse_cap_entry(element, budget);
    if (!entry) return std::unexpected(std::move(entry.error()));
    out.push_back(std::move(*entry));
  }
  return out;
}

std::expected<CapInfo, ProtocolError> parse_cap_entry(orvik_capnp::RemoteCapEntry::Reader entry) {
  auto budget = DecodeBudget::unlimited();
  return parse_cap_entry(entry, budget);
}

}  // namespace remote_session_client
