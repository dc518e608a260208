// The Client class: one RemoteSessionClient per object, its operations as
// methods, library failures as RuntimeError.
#include "client_type.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "arguments.h"
#include "conversions.h"
#include "embedded.h"
#include "errors.h"
#include "remote_session_client/client.h"
#include "use_flag.h"
#include "value_classes.h"

namespace orvik {
namespace {

namespace rsc = remote_session_client;

struct ClientState {
  explicit ClientState(rsc::RemoteSessionClient connected) : client(std::move(connected)) {}
  rsc::RemoteSessionClient client;
  UseFlag use;
};

// The state lives in the object (embedded.h): constructed once the
// connection exists, destroyed (closing the socket, sending nothing) in
// tp_dealloc.
ClientState& state_of(PyObject* self) { return embedded<ClientState>(self); }

PyTypeObject* client_type_cache = nullptr;

// The interpreter's method descriptors already refuse a foreign `self`; this
// check keeps a direct call through a stolen function pointer just as safe.
ClientState* client_state(PyObject* self) {
  PyTypeObject* type = client_type();
  if (type == nullptr) return nullptr;
  if (!PyObject_TypeCheck(self, type)) {
    PyRef type_name = new_type_name(self);
    if (type_name) {
      PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to 'Client'", type_name.get());
    }
    return nullptr;
  }
  return &state_of(self);
}

// A client in exclusive use, and the one way to run a library operation on
// it.
class InUse {
 public:
  explicit InUse(ClientState& state) : state_(state) {}

  // Runs `operation` on the library client: a failure becomes RuntimeError,
  // a success goes through `convert` into a new object. The owner is checked
  // once more here, where the request is sent: use was taken before the
  // arguments were converted, and converting them runs Python code (an
  // __index__) that may have forked since. The child must not send on its
  // parent's connection.
  template <typename Operation, typename Convert>
  PyObject* send(Operation&& operation, Convert&& convert) {
    if (!state_.use.owner().check()) return nullptr;
    auto result = operation(state_.client);
    if (!result) return raise_runtime_error(result.error());
    if constexpr (std::is_void_v<typename decltype(result)::value_type>) {
      return convert().release_new_ref();
    } else {
      return convert(std::move(*result)).release_new_ref();
    }
  }

 private:
  ClientState& state_;
};

// Every method that sends: check `self`, take exclusive use, then `call`.
template <typename Call>
PyObject* in_exclusive_use(PyObject* self, Call&& call) {
  ClientState* state = client_state(self);
  if (state == nullptr) return nullptr;
  ExclusiveUse use(state->use);
  if (!use.acquired()) return nullptr;
  InUse client(*state);
  return call(client);
}

// The methods without parameters: the interpreter itself refuses arguments
// (METH_NOARGS), so only the use rule and the call remain.
template <typename Operation, typename Convert>
PyObject* call_without_arguments(PyObject* self, Operation&& operation, Convert&& convert) {
  return in_exclusive_use(self, [&](InUse& client) { return client.send(operation, convert); });
}

// The methods with parameters: bind them, then take use, then `call`
// converts them and runs the operation. Use is taken before any argument is
// converted: an __index__ or __str__ that calls back into this client must
// find it in use.
template <std::size_t Count, typename Call>
PyObject* call_with_arguments(const Signature& signature, PyObject* self, PyObject* args,
                              PyObject* kwargs, Call&& call) {
  std::array<PyObject*, Count> bound{};
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  return in_exclusive_use(self, [&](InUse& client) { return call(client, bound); });
}

// ------------------------------------------------------------- signatures

constexpr const char* kProfileOnly[] = {"profile"};
constexpr const char* kPasswordParameters[] = {"account_name", "password", "profile"};
constexpr const char* kCapsetGetParameters[] = {"name", "expected_interface_id"};
constexpr const char* kExitParameters[] = {"_exc_type", "_exc_value", "_traceback"};
constexpr const char* kConstructorPositional[] = {"host", "port"};
// The constructor's keyword-only parameters, each with its default and the
// field it sets, in their order; the interactive defaults are the library's.
struct DurationParameter {
  const char* name;
  rsc::Duration default_value;
  rsc::Duration rsc::ClientConfig::*field;
};
constexpr DurationParameter kDurationParameters[] = {
    {"connect_deadline_ms", rsc::kInteractiveConnectDeadline, &rsc::ClientConfig::connect_deadline},
    {"io_timeout_ms", rsc::kDefaultIoTimeout, &rsc::ClientConfig::io_timeout},
    {"connect_retry_interval_ms", rsc::kDefaultConnectRetryInterval, &rsc::ClientConfig::connect_retry_interval},
};
constexpr auto kConstructorKeywordOnly = [] {
  std::array<const char*, std::size(kDurationParameters)> names{};
  for (std::size_t i = 0; i < names.size(); ++i) names[i] = kDurationParameters[i].name;
  return names;
}();

constexpr std::string_view kDefaultProfile = "operator";

const Signature kLoginAnonymous{"Client.login_anonymous()", kProfileOnly, 0};
const Signature kLoginGuest{"Client.login_guest()", kProfileOnly, 0};
const Signature kLoginPassword{"Client.login_password()", kPasswordParameters, 2};
const Signature kGetCapsetEntry{"Client.get_capset_entry()", kCapsetGetParameters, 2};
const Signature kExit{"Client.__exit__()", kExitParameters, 0};
constexpr Signature kConstructor{"Client.__new__()", kConstructorPositional, 0, kConstructorKeywordOnly};

// A parameter that was not passed takes its default; one that was passed
// must convert (None is not "absent").
std::optional<std::string> profile_or_default(PyObject* value) {
  if (value == nullptr) return std::string(kDefaultProfile);
  return to_utf8(value, "profile");
}

rsc::Bytes bytes_of(const std::string& text) { return rsc::Bytes(text.begin(), text.end()); }

PyRef new_started_session(rsc::SessionStarted&& started) { return new_session_info(std::move(started)); }

// ---------------------------------------------------------------- methods

PyObject* list_auth_methods(PyObject* self, PyObject*) {
  return call_without_arguments(
      self, [](rsc::RemoteSessionClient& client) { return client.list_auth_methods(); },
      [](std::vector<rsc::AuthMethodInfo>&& methods) { return new_auth_method_list(std::move(methods)); });
}

// login_anonymous and login_guest differ only in the mode they build.
template <typename Mode>
PyObject* login_with_profile(const Signature& signature, PyObject* self, PyObject* args,
                             PyObject* kwargs) {
  return call_with_arguments<1>(signature, self, args, kwargs, [](InUse& client,
                                                                  const auto& bound) -> PyObject* {
    std::optional<std::string> profile = profile_or_default(bound[0]);
    if (!profile) return nullptr;
    return client.send(
        [&](rsc::RemoteSessionClient& c) { return c.login(rsc::AuthMode{Mode{std::move(*profile)}}); },
        new_started_session);
  });
}

PyObject* login_anonymous(PyObject* self, PyObject* args, PyObject* kwargs) {
  return login_with_profile<rsc::auth::Anonymous>(kLoginAnonymous, self, args, kwargs);
}

PyObject* login_guest(PyObject* self, PyObject* args, PyObject* kwargs) {
  return login_with_profile<rsc::auth::Guest>(kLoginGuest, self, args, kwargs);
}

PyObject* login_password(PyObject* self, PyObject* args, PyObject* kwargs) {
  return call_with_arguments<3>(kLoginPassword, self, args, kwargs, [](InUse& client,
                                                                      const auto& bound) -> PyObject* {
    // In parameter order; the first that does not convert has set the error.
    std::optional<std::string> account_name = to_utf8(bound[0], "account_name");
    std::optional<std::string> password = account_name ? to_utf8(bound[1], "password") : std::nullopt;
    std::optional<std::string> profile = password ? profile_or_default(bound[2]) : std::nullopt;
    if (!profile) return nullptr;
    rsc::auth::Password mode{
        rsc::LoginSelector{rsc::LoginSelector::Tag::AccountName, bytes_of(*account_name)},
        std::move(*profile),
        bytes_of(*password),
    };
    return client.send([&](rsc::RemoteSessionClient& c) { return c.login(rsc::AuthMode{std::move(mode)}); },
                       new_started_session);
  });
}

PyObject* list_capset(PyObject* self, PyObject*) {
  return call_without_arguments(
      self, [](rsc::RemoteSessionClient& client) { return client.list_capset(); },
      [](std::vector<rsc::CapInfo>&& entries) { return new_cap_info_list(std::move(entries)); });
}

PyObject* get_capset_entry(PyObject* self, PyObject* args, PyObject* kwargs) {
  return call_with_arguments<2>(kGetCapsetEntry, self, args, kwargs, [](InUse& client,
                                                                       const auto& bound) -> PyObject* {
    std::optional<std::string> name = to_utf8(bound[0], "name");
    std::optional<std::uint64_t> expected = name ? to_u64(bound[1], "expected_interface_id") : std::nullopt;
    if (!expected) return nullptr;
    return client.send(
        [&](rsc::RemoteSessionClient& c) { return c.get_capset_entry(std::move(*name), *expected); },
        [](rsc::CapInfo&& entry) { return new_cap_info(std::move(entry)); });
  });
}

PyObject* session_info(PyObject* self, PyObject*) {
  return call_without_arguments(
      self, [](rsc::RemoteSessionClient& client) { return client.session_info(); },
      [](rsc::SessionInfoSummary&& summary) { return new_session_info(std::move(summary)); });
}

PyObject* system_motd(PyObject* self, PyObject*) {
  return call_without_arguments(
      self,
      [](rsc::RemoteSessionClient& client) {
        // The str is built from the transcript's copy: no third copy of a
        // large banner.
        return client.system_motd([](std::string_view text) { return new_str(text); });
      },
      [](PyRef&& text) { return std::move(text); });
}

PyObject* is_logged_out(PyObject* self, PyObject*) {
  ClientState* state = client_state(self);
  if (state == nullptr) return nullptr;
  SharedUse use(state->use);
  if (!use.acquired()) return nullptr;
  return new_bool(state->client.logged_out()).release_new_ref();
}

PyObject* logout(PyObject* self, PyObject*) {
  return call_without_arguments(
      self, [](rsc::RemoteSessionClient& client) { return client.logout(); },
      [] { return PyRef::borrow(Py_None); });
}

PyObject* enter(PyObject* self, PyObject*) {
  if (client_state(self) == nullptr) return nullptr;
  return PyRef::borrow(self).release_new_ref();
}

// One logout whatever happened in the block and whatever the client's state;
// its outcome is dropped so that the block's own exception, if any, is the
// one the caller sees. In a child made by fork() the connection is the
// parent's: nothing is sent, and no refusal of ours replaces that exception.
PyObject* exit(PyObject* self, PyObject* args, PyObject* kwargs) {
  std::array<PyObject*, 3> bound{};
  if (!bind_arguments(kExit, args, kwargs, bound)) return nullptr;
  ClientState* state = client_state(self);
  if (state == nullptr) return nullptr;
  if (!state->use.owner().is_current()) Py_RETURN_FALSE;
  ExclusiveUse use(state->use);
  if (!use.acquired()) return nullptr;
  static_cast<void>(state->client.logout());
  Py_RETURN_FALSE;
}

template <typename Function>
PyCFunction as_cfunction(Function function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

PyMethodDef client_methods[] = {
    {"list_auth_methods", list_auth_methods, METH_NOARGS,
     "list_auth_methods($self)\n--\n\nList the authentication methods the server advertises."},
    {"login_anonymous", as_cfunction(login_anonymous), METH_VARARGS | METH_KEYWORDS,
     "login_anonymous($self, profile=...)\n--\n\nAuthenticate anonymously, requesting `profile`."},
    {"login_guest", as_cfunction(login_guest), METH_VARARGS | METH_KEYWORDS,
     "login_guest($self, profile=...)\n--\n\nAuthenticate as a guest, requesting `profile`."},
    {"login_password", as_cfunction(login_password), METH_VARARGS | METH_KEYWORDS,
     "login_password($self, account_name, password, profile=...)\n--\n\n"
     "Authenticate with an account name and password proof, requesting `profile`."},
    {"list_capset", list_capset, METH_NOARGS,
     "list_capset($self)\n--\n\nList the capabilities forwarded into the current session's CapSet."},
    {"get_capset_entry", as_cfunction(get_capset_entry), METH_VARARGS | METH_KEYWORDS,
     "get_capset_entry($self, name, expected_interface_id)\n--\n\n"
     "Fetch one CapSet entry by name, asserting its interface id."},
    {"session_info", session_info, METH_NOARGS,
     "session_info($self)\n--\n\nRead metadata for the current session."},
    {"system_motd", system_motd, METH_NOARGS,
     "system_motd($self)\n--\n\nRead the system message-of-the-day banner."},
    {"is_logged_out", is_logged_out, METH_NOARGS,
     "is_logged_out($self)\n--\n\nWhether the session has been logged out."},
    {"logout", logout, METH_NOARGS, "logout($self)\n--\n\nLog out and end the session."},
    {"__enter__", enter, METH_NOARGS, "__enter__($self)\n--\n\n"},
    {"__exit__", as_cfunction(exit), METH_VARARGS | METH_KEYWORDS,
     "__exit__($self, _exc_type=None, _exc_value=None, _traceback=None)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

// Nothing is sent before all five arguments are converted; a failed connect
// leaves no object behind.
PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  std::array<PyObject*, std::size(kConstructorPositional) + std::size(kDurationParameters)> bound{};
  if (!bind_arguments(kConstructor, args, kwargs, bound)) return nullptr;

  rsc::ClientConfig config;
  if (bound[0] != nullptr) {
    std::optional<std::string> host = to_utf8(bound[0], "host");
    if (!host) return nullptr;
    config.host = std::move(*host);
  }
  if (bound[1] != nullptr) {
    std::optional<std::uint16_t> port = to_u16(bound[1], "port");
    if (!port) return nullptr;
    config.port = *port;
  }
  for (std::size_t i = 0; i < std::size(kDurationParameters); ++i) {
    const DurationParameter& parameter = kDurationParameters[i];
    rsc::Duration duration = parameter.default_value;
    if (PyObject* value = bound[std::size(kConstructorPositional) + i]; value != nullptr) {
      std::optional<std::uint64_t> ms = to_u64(value, parameter.name);
      if (!ms) return nullptr;
      duration = rsc::Duration::from_millis(*ms);
    }
    config.*parameter.field = duration;
  }

  auto connected = rsc::connect(std::move(config));
  if (!connected) return raise_connection_error(connected.error());

  // On failure the connected client is dropped here, closing the socket.
  return new_embedded<ClientState>(type, std::move(*connected)).release_new_ref();
}

// The class's documentation; its first line is the text signature Python
// shows, checked below against the parameters and their defaults.
constexpr char kClientDoc[] =
    "Client(host=..., port=2327, *, connect_deadline_ms=10000, io_timeout_ms=60000, "
    "connect_retry_interval_ms=100)\n--\n\n"
    "Host-side client for a running orvik remote session.\n\n"
    "Construct it to connect the TCP transport, then authenticate with one of the\n"
    "`login_*` methods before listing the CapSet or reading session metadata.";

// Where `name=` stands in the signature line (npos if it does not), and the
// number after it.
constexpr std::size_t position_in_signature(std::string_view name) {
  const std::string_view line = std::string_view(kClientDoc).substr(0, std::string_view(kClientDoc).find(')'));
  for (std::size_t at = line.find(name); at != std::string_view::npos; at = line.find(name, at + 1)) {
    const char before = line[at - 1];
    if ((before == '(' || before == ' ') && line.substr(at + name.size(), 1) == "=") return at;
  }
  return std::string_view::npos;
}
constexpr std::uint64_t default_in_signature(std::string_view name) {
  std::uint64_t value = 0;
  for (std::size_t at = position_in_signature(name) + name.size() + 1;
       kClientDoc[at] >= '0' && kClientDoc[at] <= '9'; ++at)
    value = value * 10 + static_cast<std::uint64_t>(kClientDoc[at] - '0');
  return value;
}
constexpr bool signature_names_the_parameters_in_order() {
  std::size_t last = 0;
  for (std::size_t i = 0; i < std::size(kConstructorPositional) + std::size(kConstructorKeywordOnly); ++i) {
    const std::size_t at = position_in_signature(kConstructor.parameter_name(i));
    if (at == std::string_view::npos || at < last) return false;
    last = at;
  }
  return true;
}
static_assert(signature_names_the_parameters_in_order());
static_assert(default_in_signature("port") == rsc::kDefaultPort);
static_assert(std::ranges::all_of(kDurationParameters, [](const DurationParameter& parameter) {
  return default_in_signature(parameter.name) == parameter.default_value.whole_millis();
}));

PyType_Slot client_slots[] = {
    {Py_tp_doc, const_cast<char*>(kClientDoc)},
    {Py_tp_new, reinterpret_cast<void*>(construct)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_embedded<ClientState>)},
    {Py_tp_methods, client_methods},
    {0, nullptr},
};

PyType_Spec client_spec = {
    "builtins.Client",
    sizeof(EmbeddedObject<ClientState>),
    0,
    Py_TPFLAGS_DEFAULT,
    client_slots,
};

}  // namespace

PyTypeObject* client_type() {
  if (client_type_cache == nullptr) {
    client_type_cache = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&client_spec));
  }
  return client_type_cache;
}

}  // namespace orvik
