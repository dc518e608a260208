// The Client class.
#pragma once

#include "pyref.h"

namespace orvik {

// Created on first use and kept for the life of the process. Returns a
// borrowed reference, or null with an exception set.
PyTypeObject* client_type();

}  // namespace orvik
