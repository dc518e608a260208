// The service catalogue, the launcher catalogue and a launch status. Every
// list is sized once from its wire element count; a failure at any depth
// discards everything built so far.
#include "parse_internal.h"

namespace remote_session_client {

namespace {

std::expected<ServiceCatalogEntry, ProtocolError> parse_service_entry(
    orvik_capnp::RemoteServiceCatalogEntry::Reader wire, DecodeBudget& budget) {
  ServiceCatalogEntry entry;
  if (auto e = assign_text(entry.text0, wire.getText0(), budget)) {
    return std::unexpected(std::move(*e));
  }
  if (auto e = assign_text(entry.text1, wire.getText1(), budget)) {
    return std::unexpected(std::move(*e));
  }
  if (auto e = assign_text(entry.text2, wire.getText2(), budget)) {
    return std::unexpected(std::move(*e));
  }
  if (auto e = assign_text(entry.text3, wire.getText3(), budget)) {
    return std::unexpected(std::move(*e));
  }
  if (auto e = assign_text(entry.text4, wire.getText4(), budget)) {
    return std::unexpected(std::move(*e));
  }
  if (auto e = assign_text(entry.text5, wire.getText5(), budget)) {
    return std::unexpected(std::move(*e));
  }
  entry.value = wire.getValue();
  if (auto e = assign_text_list(entry.text_list0, wire.getTextList0(), budget)) {
    return std::unexpected(std::move(*e));
  }
  if (auto e = assign_text_list(entry.text_list1, wire.getTextList1(), budget)) {
    return std::unexpected(std::move(*e));
  }
  return entry;
}

std::expected<LaunchGrantRequirement, ProtocolError> parse_grant_requirement(
    orvik_capnp::RemoteLaunchGrantRequirement::Reader wire, DecodeBudget& budget) {
  LaunchGrantRequirement grant;
  if (auto e = assign_text(grant.text0, wire.getText0(), budget)) {
    return std::unexpected(std::move(*e));
  }
  if (auto e = assign_text(grant.text1, wire.getText1(), budget)) {
    return std::unexpected(std::move(*e));
  }
  if (auto e = assign_text(grant.text2, wire.getText2(), budget)) {
    return std::unexpected(std::move(*e));
  }
  if (auto e = assign_text(grant.text3, wire.getText3(), budget)) {
    return std::unexpected(std::move(*e));
  }
  grant.value = wire.getValue();
  grant.flag = wire.getFlag();
  return grant;
}

std::expected<std::vector<LaunchGrantRequirement>, ProtocolError> parse_grant_requirements(
    capnp::List<orvik_capnp::RemoteLaunchGrantRequirement>::Reader list, DecodeBudget& budget) {
  return parse_list(list, budget, [](auto element, DecodeBudget& b) {
    return parse_grant_requirement(element, b);
  });
}

std::expected<LauncherCatalogEntry, ProtocolError> parse_launcher_entry(
    orvik_capnp::RemoteLauncherCatalogEntry::Reader wire, DecodeBudget& budget) {
  LauncherCatalogEntry entry;
  if (auto e = assign_text(entry.text0, wire.getText0(), budget)) {
    return std::unexpected(std::move(*e));
  }
  if (auto e = assign_text(entry.text1, wire.getText1(), budget)) {
    return std::unexpected(std::move(*e));
  }
  if (auto e = assign_text(entry.text2, wire.getText2(), budget)) {
    return std::unexpected(std::move(*e));
  }
  if (auto e = assign_text(entry.text3, wire.getText3(), budget)) {
    return std::unexpected(std::move(*e));
  }
  entry.flag0 = wire.getFlag0();
  entry.flag1 = wire.getFlag1();
  if (auto e = assign_text(entry.text4, wire.getText4(), budget)) {
    return std::unexpected(std::move(*e));
  }
  auto grants = parse_grant_requirements(wire.getGrantRequirements(), budget);
  if (!grants) return std::unexpected(std::move(grants.error()));
  entry.grant_requirements = std::move(*grants);
  auto services = parse_service_catalog(wire.getServiceEntries(), budget);
  if (!services) return std::unexpected(std::move(services.error()));
  entry.service_entries = std::move(*services);
  if (auto e = assign_text_list(entry.text_list, wire.getTextList(), budget)) {
    return std::unexpected(std::move(*e));
  }
  return entry;
}

}  // namespace

std::expected<std::vector<ServiceCatalogEntry>, ProtocolError> parse_service_catalog(
    capnp::List<orvik_capnp::RemoteServiceCatalogEntry>::Reader list, DecodeBudget& budget) {
  return parse_list(list, budget, [](auto element, DecodeBudget& b) {
    return parse_service_entry(element, b);
  });
}

std::expected<std::vector<LauncherCatalogEntry>, ProtocolError> parse_launcher_catalog(
    capnp::List<orvik_capnp::RemoteLauncherCatalogEntry>::Reader list, DecodeBudget& budget) {
  return parse_list(list, budget, [](auto element, DecodeBudget& b) {
    return parse_launcher_entry(element, b);
  });
}

std::expected<ServiceLaunchStatus, ProtocolError> parse_service_launch_status(
    orvik_capnp::RemoteServiceLaunchStatus::Reader wire, DecodeBudget& budget) {
  ServiceLaunchStatus status;
  if (auto e = assign_text(status.text0, wire.getText0(), budget)) {
    return std::unexpected(std::move(*e));
  }
  if (auto e = assign_text(status.text1, wire.getText1(), budget)) {
    return std::unexpected(std::move(*e));
  }
  status.flag = wire.getFlag();
  if (auto e = assign_text(status.text2, wire.getText2(), budget)) {
    return std::unexpected(std::move(*e));
  }
  if (auto e = assign_text_list(status.text_list, wire.getTextList(), budget)) {
    return std::unexpected(std::move(*e));
  }
  auto services = parse_service_catalog(wire.getServiceEntries(), budget);
  if (!services) return std::unexpected(std::move(services.error()));
  status.service_entries = std::move(*services);
  return status;
}

std::expected<std::vector<ServiceCatalogEntry>, ProtocolError> parse_service_catalog(
    capnp::List<orvik_capnp::RemoteServiceCatalogEntry>::Reader list) {
  auto budget = DecodeBudget::unlimited();
  return parse_service_catalog(list, budget);
}

std::expected<std::vector<LauncherCatalogEntry>, ProtocolError> parse_launcher_catalog(
    capnp::List<orvik_capnp::RemoteLauncherCatalogEntry>::Reader list) {
  auto budget = DecodeBudget::unlimited();
  return parse_launcher_catalog(list, budget);
}

std::expected<ServiceLaunchStatus, ProtocolError> parse_service_launch_status(
    orvik_capnp::RemoteServiceLaunchStatus::Reader status) {
  auto budget = DecodeBudget::unlimited();
  return parse_service_launch_status(status, budget);
}

}  // namespace remote_session_client
