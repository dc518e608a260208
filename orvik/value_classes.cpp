// AuthMethod, SessionInfo and CapInfo. Each object holds one library record,
// moved in when the object is built and never changed afterwards; every
// attribute read builds a fresh Python object from it.
#include "value_classes.h"

#include <cstdint>
#include <string>
#include <utility>

#include "conversions.h"
#include "embedded.h"
#include "repr.h"

namespace orvik {
namespace {

namespace rsc = remote_session_client;

template <typename Record>
PyObject* repr_value(PyObject* self) {
  return new_str(repr_text(embedded<Record>(self))).release_new_ref();
}

// Only the module creates value objects: calling the class is refused.
PyObject* refuse_construction(PyTypeObject* type, PyObject*, PyObject*) {
  PyRef name = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
  if (!name) return nullptr;
  PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name.get());
  return nullptr;
}

PyRef to_python(const std::string& value) { return new_str(value); }
PyRef to_python(std::uint64_t value) { return new_int(value); }
PyRef to_python(bool value) { return new_bool(value); }
// A new list on every read, so that a caller's mutation cannot reach the
// snapshot.
PyRef to_python(const std::vector<std::string>& value) { return new_str_list(value); }

template <typename>
struct MemberOf;
template <typename Record, typename Field>
struct MemberOf<Field Record::*> {
  using type = Record;
};

template <auto Member>
PyObject* get_field(PyObject* self, void*) {
  using Record = typename MemberOf<decltype(Member)>::type;
  return to_python(embedded<Record>(self).*Member).release_new_ref();
}

// Creates the type described by `spec` once and keeps it for the process.
PyTypeObject* cached_type(PyTypeObject*& cache, PyType_Spec& spec) {
  if (cache == nullptr) {
    cache = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
  }
  return cache;
}

// ------------------------------------------------------------- AuthMethod

PyGetSetDef auth_method_getset[] = {
    {"kind", get_field<&rsc::AuthMethodInfo::kind>, nullptr,
     "Method kind (e.g. anonymous, guest, password).", nullptr},
    {"label", get_field<&rsc::AuthMethodInfo::label>, nullptr, "Human-readable label.", nullptr},
    {"profile_hints", get_field<&rsc::AuthMethodInfo::profile_hints>, nullptr,
     "Profile hints the server offers for this method.", nullptr},
    {"interactive", get_field<&rsc::AuthMethodInfo::interactive>, nullptr,
     "Whether the method needs interactive input.", nullptr},
    {"enabled", get_field<&rsc::AuthMethodInfo::enabled>, nullptr,
     "Whether the method is currently enabled.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot auth_method_slots[] = {
    {Py_tp_doc, const_cast<char*>("One advertised authentication method.")},
    {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_embedded<rsc::AuthMethodInfo>)},
    {Py_tp_repr, reinterpret_cast<void*>(repr_value<rsc::AuthMethodInfo>)},
    {Py_tp_getset, auth_method_getset},
    {0, nullptr},
};

PyType_Spec auth_method_spec = {
    "builtins.AuthMethod",
    sizeof(EmbeddedObject<rsc::AuthMethodInfo>),
    0,
    Py_TPFLAGS_DEFAULT,
    auth_method_slots,
};

PyTypeObject* auth_method_cache = nullptr;

// ------------------------------------------------------------ SessionInfo

PyGetSetDef session_info_getset[] = {
    {"profile", get_field<&rsc::SessionInfoSummary::profile>, nullptr, "Granted profile name.",
     nullptr},
    {"principal_kind", get_field<&rsc::SessionInfoSummary::principal_kind>, nullptr,
     "Principal kind (e.g. anonymous, guest, account).", nullptr},
    {"principal_display_name", get_field<&rsc::SessionInfoSummary::principal_display_name>,
     nullptr, "Human-readable principal name.", nullptr},
    {"auth_strength", get_field<&rsc::SessionInfoSummary::auth_strength>, nullptr,
     "Authentication strength label.", nullptr},
    {"session_id_hex", get_field<&rsc::SessionInfoSummary::session_id_hex>, nullptr,
     "Hex-encoded session id.", nullptr},
    {"expires_at_ms", get_field<&rsc::SessionInfoSummary::expires_at_ms>, nullptr,
     "Session expiry in milliseconds since the orvik boot clock base.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot session_info_slots[] = {
    {Py_tp_doc, const_cast<char*>("Metadata describing an authenticated remote session.")},
    {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_embedded<rsc::SessionInfoSummary>)},
    {Py_tp_repr, reinterpret_cast<void*>(repr_value<rsc::SessionInfoSummary>)},
    {Py_tp_getset, session_info_getset},
    {0, nullptr},
};

PyType_Spec session_info_spec = {
    "builtins.SessionInfo",
    sizeof(EmbeddedObject<rsc::SessionInfoSummary>),
    0,
    Py_TPFLAGS_DEFAULT,
    session_info_slots,
};

PyTypeObject* session_info_cache = nullptr;

// ---------------------------------------------------------------- CapInfo

PyGetSetDef cap_info_getset[] = {
    {"name", get_field<&rsc::CapInfo::name>, nullptr, "CapSet entry name.", nullptr},
    {"interface_id", get_field<&rsc::CapInfo::interface_id>, nullptr,
     "Cap'n Proto interface id of the forwarded capability.", nullptr},
    {"transfer_policy", get_field<&rsc::CapInfo::transfer_policy>, nullptr,
     "Transfer policy the server attached to this entry.", nullptr},
    {"lease_expires_at_ms", get_field<&rsc::CapInfo::lease_expires_at_ms>, nullptr,
     "Lease expiry in milliseconds since the orvik boot clock base.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot cap_info_slots[] = {
    {Py_tp_doc, const_cast<char*>("One forwarded capability in a remote session's CapSet.")},
    {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_embedded<rsc::CapInfo>)},
    {Py_tp_repr, reinterpret_cast<void*>(repr_value<rsc::CapInfo>)},
    {Py_tp_getset, cap_info_getset},
    {0, nullptr},
};

PyType_Spec cap_info_spec = {
    "builtins.CapInfo",
    sizeof(EmbeddedObject<rsc::CapInfo>),
    0,
    Py_TPFLAGS_DEFAULT,
    cap_info_slots,
};

PyTypeObject* cap_info_cache = nullptr;

}  // namespace

PyTypeObject* auth_method_type() { return cached_type(auth_method_cache, auth_method_spec); }
PyTypeObject* session_info_type() { return cached_type(session_info_cache, session_info_spec); }
PyTypeObject* cap_info_type() { return cached_type(cap_info_cache, cap_info_spec); }

PyRef new_auth_method(rsc::AuthMethodInfo&& record) {
  return new_embedded<rsc::AuthMethodInfo>(auth_method_type(), std::move(record));
}

PyRef new_session_info(rsc::SessionInfoSummary&& record) {
  return new_embedded<rsc::SessionInfoSummary>(session_info_type(), std::move(record));
}

// The 16-bit summary value beside the summary is not exposed to Python.
PyRef new_session_info(rsc::SessionStarted&& record) {
  return new_session_info(std::move(record.summary));
}

PyRef new_cap_info(rsc::CapInfo&& record) {
  return new_embedded<rsc::CapInfo>(cap_info_type(), std::move(record));
}

PyRef new_auth_method_list(std::vector<rsc::AuthMethodInfo>&& records) {
  return new_list(records.size(), [&](std::size_t i) { return new_auth_method(std::move(records[i])); });
}

PyRef new_cap_info_list(std::vector<rsc::CapInfo>&& records) {
  return new_list(records.size(), [&](std::size_t i) { return new_cap_info(std::move(records[i])); });
}

}  // namespace orvik
