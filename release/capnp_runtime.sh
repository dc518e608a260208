#!/usr/bin/env bash
# Builds Cap'n Proto's static runtime of the pinned release for one zig
# target (release/capnp_runtime/) and prints the installed prefix, a CapnProto
# CMake package. Cached outside the checkout, keyed by the version, the target
# and a digest of the flags, the compiler and the runtime's build files, so
# that clean clones and CI on the same machine reuse it and any change of
# those builds it anew.
#   release/capnp_runtime.sh TARGET TOOLCHAIN_DIR CMAKE CXXFLAGS
set -euo pipefail
usage="usage: release/capnp_runtime.sh TARGET TOOLCHAIN_DIR CMAKE CXXFLAGS"
target=${1:?$usage}
toolchain=$(cd "${2:?$usage}" && pwd)
cmake=${3:?$usage}
flags=${4?$usage}
here=$(cd "$(dirname "$0")" && pwd)
source=$("$here/../third_party/fetch.sh" capnproto)
tools=$("$here/capnp_tools.sh" "$cmake")
version=$(sed -n 's/^set(VERSION \(.*\))$/\1/p' "$source/CMakeLists.txt")
# The compiler's predefined macros name its version and the target's ABI.
digest=$({ echo "$flags"; "$toolchain/c++" -dM -E -x c++ /dev/null | sort; cat "$here"/capnp_runtime/* "$here/../cmake/capnp_runtime.cmake"; } \
  | sha256sum | cut -c1-12)
cache=${ORVIK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orvik}
prefix=$cache/capnp-$version-$target-$digest
. "$here/cached_build.sh"

build() {  # WORK STAGE
  "$cmake" -S "$here/capnp_runtime" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$toolchain/toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS="$flags" \
    -DCAPNP_SOURCE_DIR="$source" -DCAPNP_TOOLS_DIR="$tools" >&2
  "$cmake" --build "$1" -j "${JOBS:-2}" >&2
  "$cmake" --install "$1" --prefix "$2" >&2
}
cached_build "$cache/.capnp-runtime.lock" "$prefix" lib/cmake/CapnProto/CapnProtoConfig.cmake build
