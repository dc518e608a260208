// Included before every file of the fuzz build. Cap'n Proto 0.9's blob.h
// compares `const char*` with kj::StringPtr and relies on kj's non-member
// operators, which kj leaves out when the compiler has C++20's rewritten
// comparisons; g++ then finds the rewritten member, clang 16 does not.
// Declaring them again restores what kj declares before C++20.
#pragma once

#include <kj/string.h>

namespace kj {
#if __cpp_impl_three_way_comparison && defined(__clang__)
inline bool operator==(const char* a, const StringPtr& b) { return b == StringPtr(a); }
inline bool operator!=(const char* a, const StringPtr& b) { return !(b == StringPtr(a)); }
#endif
}  // namespace kj
