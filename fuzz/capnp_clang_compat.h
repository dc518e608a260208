// Included before every file of the fuzz build: what clang needs to compile
// this code against Debian 12's libstdc++ 12 and Cap'n Proto 0.9. Later
// compilers and Cap'n Proto 1.x need none of it.
#pragma once

// libstdc++ 12 offers std::expected only when the compiler announces C++20
// concepts at 202002; clang 16 implements what it needs (conditionally
// trivial special members) but still announces 201907.
#if defined(__clang__) && __cpp_concepts < 202002L
#undef __cpp_concepts
#define __cpp_concepts 202002L
#endif

#include <capnp/common.h>
#include <kj/string.h>

// Cap'n Proto 0.9's blob.h compares `const char*` with kj::StringPtr and
// relies on kj's non-member operators, which kj 0.9 leaves out when the
// compiler has C++20's rewritten comparisons; g++ then finds the rewritten
// member, clang does not. Declaring them again restores what kj declares
// before C++20.
#if CAPNP_VERSION < 1000000 && __cpp_impl_three_way_comparison && defined(__clang__)
namespace kj {
inline bool operator==(const char* a, const StringPtr& b) { return b == StringPtr(a); }
inline bool operator!=(const char* a, const StringPtr& b) { return !(b == StringPtr(a)); }
}  // namespace kj
#endif
