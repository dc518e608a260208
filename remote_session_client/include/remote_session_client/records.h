// Records decoded from gateway responses and the login modes a request
// carries. Every record owns its strings and lists; nothing refers back into a
// message buffer.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "remote_session_client/bytes.h"

namespace remote_session_client {

// ------------------------------------------------------------ authentication

// Names an account: tag AccountName carries the account name's UTF-8 bytes,
// tag Opaque the gateway's second selector form.
struct LoginSelector {
  enum class Tag : std::uint16_t { AccountName = 0, Opaque = 1 };
  Tag tag = Tag::AccountName;
  Bytes bytes;
};

namespace auth {
struct Password {
  LoginSelector selector;
  std::string profile;
  Bytes proof;  // sent exactly as given; never shown anywhere
};
struct Anonymous { std::string profile; };
struct Guest { std::string profile; };
}  // namespace auth

using AuthMode = std::variant<auth::Password, auth::Anonymous, auth::Guest>;

struct AuthMethodInfo {
  std::string kind;
  std::string label;
  std::vector<std::string> profile_hints;
  bool interactive = false;
  bool enabled = false;
};

struct SessionInfoSummary {
  std::string profile;
  std::string principal_kind;
  std::string principal_display_name;
  std::string auth_strength;
  std::string session_id_hex;
  std::uint64_t expires_at_ms = 0;
};

struct SessionStarted {
  SessionInfoSummary summary;
  std::uint16_t summary_value = 0;
};

struct RemoteErrorInfo {
  std::string code;
  std::string message;
};

// ------------------------------------------------------- session and CapSet

struct CapInfo {
  std::string name;
  std::uint64_t interface_id = 0;
  std::string transfer_policy;
  std::uint64_t lease_expires_at_ms = 0;
};

// ---------------------------------------------- service catalog and launch

struct ServiceCatalogEntry {
  std::string text0, text1, text2, text3, text4, text5;
  std::vector<std::string> text_list0;
  std::vector<std::string> text_list1;
  std::uint64_t value = 0;
};

struct LaunchGrantRequirement {
  std::string text0, text1, text2, text3;
  std::uint64_t value = 0;
  bool flag = false;
};

struct LauncherCatalogEntry {
  std::string text0, text1, text2, text3, text4;
  std::vector<LaunchGrantRequirement> grant_requirements;
  std::vector<ServiceCatalogEntry> service_entries;
  std::vector<std::string> text_list;
  bool flag0 = false;
  bool flag1 = false;
};

struct ServiceLaunchStatus {
  std::string text0, text1, text2;
  std::vector<std::string> text_list;
  std::vector<ServiceCatalogEntry> service_entries;
  bool flag = false;
};

// ---------------------------------------------------------------------- chat

struct ChatEventInfo {
  std::string text0, text1, text2;
  std::uint8_t kind = 0;  // always 0 to 4
};

}  // namespace remote_session_client
