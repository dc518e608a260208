#include "remote_session_client/transcript.h"

namespace remote_session_client {

void Transcript::record(TranscriptEvent event) {
  events_.push_back(std::move(event));
  while (events_.size() > capacity_) {
    events_.pop_front();
    ++dropped_;
  }
}

std::string principal_label(const SessionInfoSummary& summary) {
  if (summary.principal_kind == "guest" || summary.principal_display_name.empty()) {
    return summary.principal_kind;
  }
  return summary.principal_kind + ":" + summary.principal_display_name;
}

}  // namespace remote_session_client
