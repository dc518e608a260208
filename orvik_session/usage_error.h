// A command line the tool cannot act on: what is wrong, in one line. main
// prints it with the hint to --help and exits with the usage status.
#pragma once

#include <string>

namespace orvik_session {

struct UsageError {
  std::string message;
};

}  // namespace orvik_session
