#!/usr/bin/env bash
# Builds the Cap'n Proto schema compiler (capnp and capnpc-c++) of the pinned
# release once with the host's compiler and prints the folder that holds
# bin/capnp and bin/capnpc-c++. The generated header of a schema refuses a
# runtime of another version, so the release build generates its code with
# these, never with the system's capnp. Cached outside the checkout, keyed by
# the version: clean clones and CI on the same machine reuse it.
#   release/capnp_tools.sh CMAKE
set -euo pipefail
cmake=${1:?usage: release/capnp_tools.sh CMAKE}
here=$(cd "$(dirname "$0")" && pwd)
source=$("$here/../third_party/fetch.sh" capnproto)
version=$(sed -n 's/^set(VERSION \(.*\))$/\1/p' "$source/CMakeLists.txt")
cache=${ORVIK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orvik}
prefix=$cache/capnp-$version-host-tools
. "$here/cached_build.sh"

build() {  # WORK STAGE
  # The compiler needs none of the optional parts (TLS, gzip, fibers).
  "$cmake" -S "$source" -B "$1" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DWITH_OPENSSL=OFF -DWITH_ZLIB=OFF -DWITH_FIBERS=OFF >&2
  "$cmake" --build "$1" --target capnp_tool capnpc_cpp -j "${JOBS:-2}" >&2
  mkdir -p "$2/bin"
  cp "$1/src/capnp/capnp" "$1/src/capnp/capnpc-c++" "$2/bin/"
  "$2/bin/capnp" --version | grep -qx "Cap'n Proto version $version" \
    || { echo "capnp_tools.sh: the built capnp is not version $version" >&2; exit 1; }
}
cached_build "$cache/.capnp-host-tools.lock" "$prefix" bin/capnpc-c++ build
