// The service catalogue, the launcher catalogue and a launch status. Every
// list is sized once from its wire element count; a failure at any depth
// discards everything built so far.
#include "parse_internal.h"

namespace remote_session_client {

namespace {

std::expected<ServiceCatalogEntry, ProtocolError> parse_service_entry(
    orvik_capnp::RemoteServiceCatalogEntry::Reader wire, DecodeBudget& budget) {
  using Wire = orvik_capnp::RemoteServiceCatalogEntry::Reader;
  FieldReader fields(budget);
  ServiceCatalogEntry entry;
  fields.read<&Wire::getText0>(entry.text0, wire);
  fields.read<&Wire::getText1>(entry.text1, wire);
  fields.read<&Wire::getText2>(entry.text2, wire);
  fields.read<&Wire::getText3>(entry.text3, wire);
  fields.read<&Wire::getText4>(entry.text4, wire);
  fields.read<&Wire::getText5>(entry.text5, wire);
  entry.value = wire.getValue();
  fields.read<&Wire::getTextList0>(entry.text_list0, wire);
  fields.read<&Wire::getTextList1>(entry.text_list1, wire);
  return fields.finish(std::move(entry));
}

std::expected<LaunchGrantRequirement, ProtocolError> parse_grant_requirement(
    orvik_capnp::RemoteLaunchGrantRequirement::Reader wire, DecodeBudget& budget) {
  using Wire = orvik_capnp::RemoteLaunchGrantRequirement::Reader;
  FieldReader fields(budget);
  LaunchGrantRequirement grant;
  fields.read<&Wire::getText0>(grant.text0, wire);
  fields.read<&Wire::getText1>(grant.text1, wire);
  fields.read<&Wire::getText2>(grant.text2, wire);
  fields.read<&Wire::getText3>(grant.text3, wire);
  grant.value = wire.getValue();
  grant.flag = wire.getFlag();
  return fields.finish(std::move(grant));
}

std::expected<std::vector<LaunchGrantRequirement>, ProtocolError> parse_grant_requirements(
    capnp::List<orvik_capnp::RemoteLaunchGrantRequirement>::Reader list, DecodeBudget& budget) {
  return parse_list(list, budget, parse_grant_requirement);
}

std::expected<LauncherCatalogEntry, ProtocolError> parse_launcher_entry(
    orvik_capnp::RemoteLauncherCatalogEntry::Reader wire, DecodeBudget& budget) {
  using Wire = orvik_capnp::RemoteLauncherCatalogEntry::Reader;
  FieldReader fields(budget);
  LauncherCatalogEntry entry;
  fields.read<&Wire::getText0>(entry.text0, wire);
  fields.read<&Wire::getText1>(entry.text1, wire);
  fields.read<&Wire::getText2>(entry.text2, wire);
  fields.read<&Wire::getText3>(entry.text3, wire);
  entry.flag0 = wire.getFlag0();
  entry.flag1 = wire.getFlag1();
  fields.read<&Wire::getText4>(entry.text4, wire);
  fields.read<&Wire::getGrantRequirements>(entry.grant_requirements, wire, parse_grant_requirements);
  fields.read<&Wire::getServiceEntries>(entry.service_entries, wire, parse_service_catalog);
  fields.read<&Wire::getTextList>(entry.text_list, wire);
  return fields.finish(std::move(entry));
}

}  // namespace

std::expected<std::vector<ServiceCatalogEntry>, ProtocolError> parse_service_catalog(
    capnp::List<orvik_capnp::RemoteServiceCatalogEntry>::Reader list, DecodeBudget& budget) {
  return parse_list(list, budget, parse_service_entry);
}

std::expected<std::vector<LauncherCatalogEntry>, ProtocolError> parse_launcher_catalog(
    capnp::List<orvik_capnp::RemoteLauncherCatalogEntry>::Reader list, DecodeBudget& budget) {
  return parse_list(list, budget, parse_launcher_entry);
}

std::expected<ServiceLaunchStatus, ProtocolError> parse_service_launch_status(
    orvik_capnp::RemoteServiceLaunchStatus::Reader wire, DecodeBudget& budget) {
  using Wire = orvik_capnp::RemoteServiceLaunchStatus::Reader;
  FieldReader fields(budget);
  ServiceLaunchStatus status;
  fields.read<&Wire::getText0>(status.text0, wire);
  fields.read<&Wire::getText1>(status.text1, wire);
  status.flag = wire.getFlag();
  fields.read<&Wire::getText2>(status.text2, wire);
  fields.read<&Wire::getTextList>(status.text_list, wire);
  fields.read<&Wire::getServiceEntries>(status.service_entries, wire, parse_service_catalog);
  return fields.finish(std::move(status));
}

}  // namespace remote_session_client
