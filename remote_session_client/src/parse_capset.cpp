// CapSet entries, alone (capGranted) or as the capsetList answer.
#include "parse_internal.h"

namespace remote_session_client {

std::expected<CapInfo, ProtocolError> parse_cap_entry(orvik_capnp::RemoteCapEntry::Reader entry) {
  CapInfo info;
  if (auto e = assign_text(info.name, entry.getName())) return std::unexpected(std::move(*e));
  info.interface_id = entry.getInterfaceId();
  if (auto e = assign_text(info.transfer_policy, entry.getTransferPolicy())) {
    return std::unexpected(std::move(*e));
  }
  info.lease_expires_at_ms = entry.getLeaseExpiresAtMs();
  return info;
}

std::expected<std::vector<CapInfo>, ProtocolError> parse_capset_list(
    capnp::List<orvik_capnp::RemoteCapEntry>::Reader list, ElementBudget& budget) {
  std::vector<CapInfo> out;
  if (list.size() == 0) return out;
  if (auto e = budget.take(list.size())) return std::unexpected(std::move(*e));
  out.reserve(list.size());
  for (auto element : list) {
    auto entry = parse_cap_entry(element);
    if (!entry) return std::unexpected(std::move(entry.error()));
    out.push_back(std::move(*entry));
  }
  return out;
}

}  // namespace remote_session_client
