// The value classes AuthMethod, SessionInfo and CapInfo: read-only snapshots
// of the records the client library returns.
#pragma once

#include <vector>

#include "pyref.h"
#include "remote_session_client/records.h"

namespace orvik {

// Each type is created on first use and kept for the life of the process.
// Returns a borrowed reference, or null with an exception set.
PyTypeObject* auth_method_type();
PyTypeObject* session_info_type();
PyTypeObject* cap_info_type();

// Conversions. Each takes the record over (its strings and lists move into
// the new object) and returns a new reference, or an empty PyRef with an
// exception set.
PyRef new_auth_method(remote_session_client::AuthMethodInfo&& record);
PyRef new_session_info(remote_session_client::SessionInfoSummary&& record);
PyRef new_session_info(remote_session_client::SessionStarted&& record);
PyRef new_cap_info(remote_session_client::CapInfo&& record);
PyRef new_auth_method_list(std::vector<remote_session_client::AuthMethodInfo>&& records);
PyRef new_cap_info_list(std::vector<remote_session_client::CapInfo>&& records);

}  // namespace orvik
