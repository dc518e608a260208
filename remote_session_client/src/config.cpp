#include "remote_session_client/config.h"

namespace remote_session_client {

AuthMode default_auth_mode() {
  return auth::Password{
      LoginSelector{LoginSelector::Tag::AccountName, Bytes(kDefaultAccount.begin(), kDefaultAccount.end())},
      std::string(kDefaultAccount),
      Bytes(kDefaultPassword.begin(), kDefaultPassword.end()),
  };
}

}  // namespace remote_session_client
