// The display texts of the value classes.
#pragma once

#include <string>

#include "remote_session_client/records.h"

namespace orvik {

std::string repr_text(const remote_session_client::AuthMethodInfo& value);
std::string repr_text(const remote_session_client::SessionInfoSummary& value);
std::string repr_text(const remote_session_client::CapInfo& value);

}  // namespace orvik
