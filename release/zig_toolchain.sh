#!/usr/bin/env bash
# Writes into DIR the compiler wrappers (cc, c++, ar, ranlib) that run zig for
# TARGET (e.g. aarch64-linux-gnu.2.17: glibc 2.17's symbols at most, libc++
# linked statically) and a CMake toolchain file, DIR/toolchain.cmake, that
# names them. CMake wants one program per tool, and zig is one program for all.
#   release/zig_toolchain.sh TARGET ZIG DIR
set -euo pipefail
target=${1:?usage: release/zig_toolchain.sh TARGET ZIG DIR}
zig=${2:?usage: release/zig_toolchain.sh TARGET ZIG DIR}
dir=${3:?usage: release/zig_toolchain.sh TARGET ZIG DIR}
arch=${target%%-*}
mkdir -p "$dir"

wrapper() {  # NAME ZIG-COMMAND...
  local name=$1; shift
  printf '#!/bin/sh\nexec %q %s "$@"\n' "$zig" "$*" > "$dir/$name.tmp"
  chmod +x "$dir/$name.tmp"
  # Rewritten only when it changes, so a rerun does not look like a new compiler.
  if cmp -s "$dir/$name.tmp" "$dir/$name"; then rm "$dir/$name.tmp"; else mv "$dir/$name.tmp" "$dir/$name"; fi
}
wrapper cc "cc -target $target"
# zig turns on libc++'s C++14 std::unexpected() in every language mode, and
# that function makes each std::unexpected(error) of <expected> ambiguous.
wrapper c++ "c++ -target $target -U_LIBCPP_ENABLE_CXX17_REMOVED_UNEXPECTED_FUNCTIONS"
wrapper ar ar
wrapper ranlib ranlib

cat > "$dir/toolchain.cmake.tmp" <<CMAKE
# Written by release/zig_toolchain.sh: zig for $target.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR $arch)
set(CMAKE_C_COMPILER \${CMAKE_CURRENT_LIST_DIR}/cc)
set(CMAKE_CXX_COMPILER \${CMAKE_CURRENT_LIST_DIR}/c++)
set(CMAKE_AR \${CMAKE_CURRENT_LIST_DIR}/ar CACHE FILEPATH "zig ar")
set(CMAKE_RANLIB \${CMAKE_CURRENT_LIST_DIR}/ranlib CACHE FILEPATH "zig ranlib")
# Nothing of the host's own libraries or headers may slip into the build:
# everything it links is named to it explicitly, or lies in one of the
# prefixes built for this target (ORVIK_TARGET_PREFIXES, a list).
set(CMAKE_FIND_ROOT_PATH \${CMAKE_CURRENT_LIST_DIR}/no-sysroot \${ORVIK_TARGET_PREFIXES})
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORVIK_TARGET_PREFIXES)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
CMAKE
if cmp -s "$dir/toolchain.cmake.tmp" "$dir/toolchain.cmake"; then rm "$dir/toolchain.cmake.tmp"
else mv "$dir/toolchain.cmake.tmp" "$dir/toolchain.cmake"; fi
