// RSC_API marks what the shared library exports: every function and class
// the public headers declare, and nothing else. The library is compiled with
// hidden visibility, so whatever is not marked (the decoders' helpers, the
// schema code, Cap'n Proto's runtime) stays inside it.
#pragma once

#define RSC_API __attribute__((visibility("default")))
