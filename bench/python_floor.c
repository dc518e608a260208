/* The Python floor: the least a Python client must do per call.
 *
 *   import python_floor
 *   client = python_floor.Client(port)
 *   client.system_motd()   # a str
 *   client.list_capset()   # a list of CapEntry objects
 *   python_floor.Client(stream=tls_socket)   # over a Python stream instead
 *
 * A small extension on the limited API, as orvik is, without the Cap'n Proto
 * library: it writes the seq into a pre-encoded request frame, sends it,
 * receives the whole answer frame into a buffer it keeps, checks the answer's
 * seq and builds the result. A banner becomes one str; a CapSet becomes one
 * object per entry holding copies of the entry's four fields, each attribute
 * built into a Python value when it is read, as orvik's CapInfo does. It finds
 * the fields by walking the message's pointers by hand, which is exactly what
 * the benchmark's gateway sends (one segment) and checked only as far as
 * reading within the buffer needs: it measures, it does not defend.
 *
 * Given a stream (an ssl.SSLSocket, say) it moves the bytes through that
 * object's sendall() and recv_into() into the same buffer: the floor of a
 * Python client over the standard library's TLS.
 */
#define Py_LIMITED_API 0x03090000
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <arpa/inet.h>
#include <errno.h>
#include <stddef.h>
#include <netinet/in.h>
#include <stdint.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

/* PyMemoryView_FromMemory's flag, in the stable ABI since 3.3 but named in
 * the limited API's headers only from 3.11. */
#ifndef PyBUF_WRITE
#define PyBUF_WRITE 0x200
#endif

/* The library's default limit: the largest answer accepted. */
#define MAX_RESPONSE_BYTES (1u << 20)

enum { ARM_CAPSET_LIST_REQUEST = 3, ARM_SYSTEM_MOTD_REQUEST = 6 };
enum { ARM_CAPSET_LIST = 2, ARM_SYSTEM_MOTD = 5 };

static uint32_t load32(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, sizeof v);
  return v;
}

static uint64_t load64(const uint8_t* p) {
  uint64_t v;
  memcpy(&v, p, sizeof v);
  return v;
}

/* One segment of a received message, as words. */
typedef struct {
  const uint8_t* words;
  size_t count;
} Segment;

/* The target of the pointer at word `at`: its first word, or -1. */
static int64_t follow(const Segment* s, size_t at, uint64_t pointer) {
  const int64_t offset = (int32_t)(uint32_t)pointer >> 2;
  const int64_t target = (int64_t)at + 1 + offset;
  return target < 0 || (size_t)target > s->count ? -1 : target;
}

/* A Text pointer's bytes (without the NUL); a null pointer is the empty text. */
static int read_text(const Segment* s, size_t at, const char** text, size_t* size) {
  const uint64_t pointer = load64(s->words + at * 8);
  *text = "";
  *size = 0;
  if (pointer == 0) return 1;
  const int64_t start = follow(s, at, pointer);
  const size_t bytes = (size_t)(pointer >> 35);
  if ((pointer & 3) != 1 || ((pointer >> 32) & 7) != 2 || start < 0 || bytes == 0 ||
      bytes > (s->count - (size_t)start) * 8) {
    return 0;
  }
  *text = (const char*)s->words + (size_t)start * 8;
  *size = bytes - 1;
  return 1;
}

/* ------------------------------------------------------------- CapEntry */

typedef struct {
  PyObject_VAR_HEAD
  unsigned long long interface_id;
  unsigned long long lease_expires_at_ms;
  Py_ssize_t name_size;
  Py_ssize_t policy_size;
  char texts[1]; /* the name, then the transfer policy */
} CapEntry;

static PyTypeObject* cap_entry_type;

static PyObject* entry_name(PyObject* self, void* unused) {
  CapEntry* e = (CapEntry*)self;
  (void)unused;
  return PyUnicode_DecodeUTF8(e->texts, e->name_size, NULL);
}

static PyObject* entry_policy(PyObject* self, void* unused) {
  CapEntry* e = (CapEntry*)self;
  (void)unused;
  return PyUnicode_DecodeUTF8(e->texts + e->name_size, e->policy_size, NULL);
}

static PyObject* entry_interface_id(PyObject* self, void* unused) {
  (void)unused;
  return PyLong_FromUnsignedLongLong(((CapEntry*)self)->interface_id);
}

static PyObject* entry_lease(PyObject* self, void* unused) {
  (void)unused;
  return PyLong_FromUnsignedLongLong(((CapEntry*)self)->lease_expires_at_ms);
}

static PyGetSetDef entry_getset[] = {
    {"name", entry_name, NULL, NULL, NULL},
    {"interface_id", entry_interface_id, NULL, NULL, NULL},
    {"transfer_policy", entry_policy, NULL, NULL, NULL},
    {"lease_expires_at_ms", entry_lease, NULL, NULL, NULL},
    {NULL, NULL, NULL, NULL, NULL},
};

static void entry_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  ((freefunc)PyType_GetSlot(type, Py_tp_free))(self);
  Py_DECREF(type);
}

static PyType_Slot entry_slots[] = {
    {Py_tp_dealloc, (void*)entry_dealloc},
    {Py_tp_getset, entry_getset},
    {0, NULL},
};

static PyType_Spec entry_spec = {
    "python_floor.CapEntry", offsetof(CapEntry, texts), 1, Py_TPFLAGS_DEFAULT, entry_slots,
};

/* A new CapEntry from the element at word `at` of a composite list. */
static PyObject* new_entry(const Segment* s, size_t at, unsigned data_words, unsigned pointer_words) {
  const char* name = "";
  const char* policy = "";
  size_t name_size = 0, policy_size = 0;
  if ((pointer_words > 0 && !read_text(s, at + data_words, &name, &name_size)) ||
      (pointer_words > 1 && !read_text(s, at + data_words + 1, &policy, &policy_size))) {
    PyErr_SetString(PyExc_ValueError, "bad text pointer in a CapSet entry");
    return NULL;
  }
  allocfunc alloc = (allocfunc)PyType_GetSlot(cap_entry_type, Py_tp_alloc);
  CapEntry* e = (CapEntry*)alloc(cap_entry_type, (Py_ssize_t)(name_size + policy_size));
  if (e == NULL) return NULL;
  e->interface_id = data_words > 0 ? load64(s->words + at * 8) : 0;
  e->lease_expires_at_ms = data_words > 1 ? load64(s->words + (at + 1) * 8) : 0;
  e->name_size = (Py_ssize_t)name_size;
  e->policy_size = (Py_ssize_t)policy_size;
  memcpy(e->texts, name, name_size);
  memcpy(e->texts + name_size, policy, policy_size);
  return (PyObject*)e;
}

/* --------------------------------------------------------------- Client */

typedef struct {
  PyObject_HEAD
  int fd;          /* -1 when the bytes go through `stream` */
  PyObject* stream; /* owned, or NULL */
  uint32_t next_seq;
  uint8_t* buffer; /* 4 + MAX_RESPONSE_BYTES, kept for the client's life */
} Client;

/* Sends all of `data`; 0 with an exception set on failure. */
static int send_all(Client* c, const uint8_t* data, size_t size) {
  if (c->stream == NULL) {
    if (send(c->fd, data, size, MSG_NOSIGNAL) == (ssize_t)size) return 1;
    PyErr_SetFromErrno(PyExc_OSError);
    return 0;
  }
  PyObject* done = PyObject_CallMethod(c->stream, "sendall", "y#", (const char*)data, (Py_ssize_t)size);
  Py_XDECREF(done);
  return done != NULL;
}

/* Receives at most `room` bytes into `into`: their count, or -1 with an exception set. */
static ssize_t receive(Client* c, uint8_t* into, size_t room) {
  if (c->stream == NULL) {
    const ssize_t n = recv(c->fd, into, room, 0);
    if (n <= 0) {
      if (n == 0) errno = ECONNRESET;
      PyErr_SetFromErrno(PyExc_OSError);
      return -1;
    }
    return n;
  }
  PyObject* view = PyMemoryView_FromMemory((char*)into, (Py_ssize_t)room, PyBUF_WRITE);
  if (view == NULL) return -1;
  PyObject* got = PyObject_CallMethod(c->stream, "recv_into", "O", view);
  Py_DECREF(view);
  if (got == NULL) return -1;
  const ssize_t n = PyLong_AsSsize_t(got);
  Py_DECREF(got);
  if (n == 0) PyErr_SetString(PyExc_ConnectionResetError, "the stream ended");
  return n > 0 ? n : -1;
}

/* Sends the request for `arm`, receives the whole answer and checks its seq
 * and arm; on success `*s` is its one segment and `*root` the word index of
 * the envelope's pointer 0. */
static int exchange(Client* c, uint16_t request_arm, uint16_t answer_arm, Segment* s, size_t* root) {
  const uint32_t seq = c->next_seq++;
  /* The 4-byte length, then a one-segment message of 3 words: the root
   * pointer, the data word (seq, arm) and the null payload pointer. */
  uint8_t request[36] = {0, 0, 0, 32, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0};
  memcpy(request + 20, &seq, 4);
  memcpy(request + 24, &request_arm, 2);
  if (!send_all(c, request, sizeof request)) return 0;
  size_t got = 0, need = 4;
  while (got < need) {
    const ssize_t n = receive(c, c->buffer + got, 4 + MAX_RESPONSE_BYTES - got);
    if (n < 0) return 0;
    got += (size_t)n;
    if (need == 4 && got >= 4) {
      const uint32_t length = ntohl(load32(c->buffer));
      if (length < 24 || length > MAX_RESPONSE_BYTES) break;
      need = 4 + length;
    }
  }
  const uint8_t* message = c->buffer + 4;
  const size_t words = (need - 4) / 8;
  if (got != need || load32(message) != 0 || load32(message + 4) + 1 > words) {
    PyErr_SetString(PyExc_ValueError, "not a one-segment answer frame");
    return 0;
  }
  s->words = message + 8;
  s->count = load32(message + 4);
  const uint64_t pointer = load64(s->words);
  const int64_t start = follow(s, 0, pointer);
  const unsigned data_words = (unsigned)(uint16_t)(pointer >> 32);
  const unsigned pointer_words = (unsigned)(uint16_t)(pointer >> 48);
  if ((pointer & 3) != 0 || start < 0 || data_words < 1 || pointer_words < 1 ||
      (size_t)start + data_words + 1 > s->count) {
    PyErr_SetString(PyExc_ValueError, "bad root pointer");
    return 0;
  }
  const uint8_t* data = s->words + (size_t)start * 8;
  if (load32(data) != seq) {
    PyErr_SetString(PyExc_ValueError, "seq mismatch");
    return 0;
  }
  if ((uint16_t)(load32(data + 4) & 0xffff) != answer_arm) {
    PyErr_SetString(PyExc_ValueError, "unexpected answer arm");
    return 0;
  }
  *root = (size_t)start + data_words;
  return 1;
}

static PyObject* system_motd(PyObject* self, PyObject* unused) {
  Segment s;
  size_t root;
  const char* text;
  size_t size;
  (void)unused;
  if (!exchange((Client*)self, ARM_SYSTEM_MOTD_REQUEST, ARM_SYSTEM_MOTD, &s, &root)) return NULL;
  if (!read_text(&s, root, &text, &size)) {
    PyErr_SetString(PyExc_ValueError, "bad banner pointer");
    return NULL;
  }
  return PyUnicode_DecodeUTF8(text, (Py_ssize_t)size, NULL);
}

static PyObject* list_capset(PyObject* self, PyObject* unused) {
  Segment s;
  size_t root;
  (void)unused;
  if (!exchange((Client*)self, ARM_CAPSET_LIST_REQUEST, ARM_CAPSET_LIST, &s, &root)) return NULL;
  const uint64_t pointer = load64(s.words + root * 8);
  if (pointer == 0) return PyList_New(0);
  const int64_t tag_at = follow(&s, root, pointer);
  if ((pointer & 3) != 1 || ((pointer >> 32) & 7) != 7 || tag_at < 0 || (size_t)tag_at >= s.count) {
    PyErr_SetString(PyExc_ValueError, "bad CapSet list pointer");
    return NULL;
  }
  const uint64_t tag = load64(s.words + (size_t)tag_at * 8);
  const size_t count = (size_t)((uint32_t)tag >> 2);
  const unsigned data_words = (unsigned)(uint16_t)(tag >> 32);
  const unsigned pointer_words = (unsigned)(uint16_t)(tag >> 48);
  const size_t stride = data_words + pointer_words;
  if (count * stride > s.count - (size_t)tag_at - 1) {
    PyErr_SetString(PyExc_ValueError, "CapSet list past the segment");
    return NULL;
  }
  PyObject* list = PyList_New((Py_ssize_t)count);
  if (list == NULL) return NULL;
  for (size_t i = 0; i < count; ++i) {
    PyObject* entry = new_entry(&s, (size_t)tag_at + 1 + i * stride, data_words, pointer_words);
    if (entry == NULL) {
      Py_DECREF(list);
      return NULL;
    }
    PyList_SetItem(list, (Py_ssize_t)i, entry);
  }
  return list;
}

static PyObject* client_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  int port = 0;
  PyObject* stream = NULL;
  static char* keywords[] = {"port", "stream", NULL};
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|i$O", keywords, &port, &stream)) return NULL;
  uint8_t* buffer = PyMem_Malloc(4 + MAX_RESPONSE_BYTES);
  if (buffer == NULL) return PyErr_NoMemory();
  if (stream != NULL) {
    Client* c = (Client*)((allocfunc)PyType_GetSlot(type, Py_tp_alloc))(type, 0);
    if (c == NULL) {
      PyMem_Free(buffer);
      return NULL;
    }
    Py_INCREF(stream);
    c->fd = -1;
    c->stream = stream;
    c->next_seq = 1;
    c->buffer = buffer;
    return (PyObject*)c;
  }
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons((uint16_t)port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || connect(fd, (struct sockaddr*)&address, sizeof address) != 0) {
    PyErr_SetFromErrno(PyExc_OSError);
    if (fd >= 0) close(fd);
    PyMem_Free(buffer);
    return NULL;
  }
  Client* c = (Client*)((allocfunc)PyType_GetSlot(type, Py_tp_alloc))(type, 0);
  if (c == NULL) {
    close(fd);
    PyMem_Free(buffer);
    return NULL;
  }
  c->fd = fd;
  c->stream = NULL;
  c->next_seq = 1;
  c->buffer = buffer;
  return (PyObject*)c;
}

static void client_dealloc(PyObject* self) {
  Client* c = (Client*)self;
  PyTypeObject* type = Py_TYPE(self);
  if (c->fd >= 0) close(c->fd);
  Py_XDECREF(c->stream);
  PyMem_Free(c->buffer);
  ((freefunc)PyType_GetSlot(type, Py_tp_free))(self);
  Py_DECREF(type);
}

static PyMethodDef client_methods[] = {
    {"system_motd", system_motd, METH_NOARGS, NULL},
    {"list_capset", list_capset, METH_NOARGS, NULL},
    {NULL, NULL, 0, NULL},
};

static PyType_Slot client_slots[] = {
    {Py_tp_new, (void*)client_new},
    {Py_tp_dealloc, (void*)client_dealloc},
    {Py_tp_methods, client_methods},
    {0, NULL},
};

static PyType_Spec client_spec = {
    "python_floor.Client", sizeof(Client), 0, Py_TPFLAGS_DEFAULT, client_slots,
};

static struct PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "python_floor", "The least a Python client must do per call.", 0, NULL, NULL, NULL,
    NULL, NULL,
};

PyMODINIT_FUNC PyInit_python_floor(void) {
  PyObject* module = PyModule_Create(&module_def);
  if (module == NULL) return NULL;
  cap_entry_type = (PyTypeObject*)PyType_FromSpec(&entry_spec);
  PyObject* client_type = PyType_FromSpec(&client_spec);
  if (cap_entry_type == NULL || client_type == NULL || PyModule_AddObject(module, "Client", client_type) < 0) {
    Py_XDECREF(client_type);
    Py_DECREF(module);
    return NULL;
  }
  return module;
}
