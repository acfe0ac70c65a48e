// The Python class WarmupPolicy: an enumeration of two members, FIRST_VALUE
// (0) and FULL_WINDOW (1), made with the class and stored on it, with a
// representation, int() and == / != against members and integers; no
// constructor and no hash.
#pragma once

#include "engine/types.hpp"
#include "python/arguments.hpp"

namespace vorn::py {

// The class with its two members, made on first use (borrowed; throws
// PythonError).
PyObject* warmup_policy_type();

// A `warmup` argument: a WarmupPolicy member (TypeError for anything else,
// None and ints included), or `fallback` when left out.
WarmupPolicy warmup_policy_or(Arg arg, WarmupPolicy fallback);

}  // namespace vorn::py
