#!/usr/bin/env bash
# Builds orvik-session as one static executable for a zig musl target
# (x86_64-linux-musl or aarch64-linux-musl) from pinned sources and prints
# its path: Cap'n Proto's runtime, utf8proc, nlohmann-json, OpenSSL, libedit
# and ncurses linked in with musl and libc++, so it runs on any Linux of its
# architecture, with no C library or loader there. Prints one line per step;
# everything the tools say goes to LOG.
#   release/static_session.sh TARGET PYTHON LOG
set -euo pipefail
usage="usage: release/static_session.sh TARGET PYTHON LOG"
target=${1:?$usage}
py=${2:?$usage}
log=${3:?$usage}
[[ $target == *-linux-musl ]] || { echo "static_session.sh: $target is not a musl target" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
bin=$(dirname "$py")
zig=$("$py" -c "import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), 'zig'))")
work=$root/build/static/$target
toolchain=$root/build/zig/$target

# Full LTO across Cap'n Proto, the library and the command line, as in the
# wheels; the C libraries are compiled once without it. No debug information,
# and the link drops every section nothing reaches.
cflags="-O2 -g0 -flto=full -ffunction-sections -fdata-sections"
c_library_flags="-O2 -g0 -ffunction-sections -fdata-sections"
ldflags="-static -flto=full -Wl,--gc-sections -s"

step() { echo "$target: $*" >&2; echo "==== $*" >> "$log"; }
fail() { tail -40 "$log" >&2; echo "$target: $* failed (log: $log)" >&2; exit 1; }

step "zig $("$zig" version) wrappers"
"$here/zig_toolchain.sh" "$target" "$zig" "$toolchain" >> "$log" 2>&1 || fail "writing the zig wrappers"
step "Cap'n Proto's runtime, OpenSSL, ncurses and libedit from the pinned sources (cached; the first time some minutes)"
capnp=$("$here/capnp_runtime.sh" "$target" "$toolchain" "$bin/cmake" "$cflags" 2>> "$log") || fail "building Cap'n Proto"
openssl=$("$here/openssl.sh" "$target" "$toolchain" "$c_library_flags" 2>> "$log") || fail "building OpenSSL"
libedit=$("$here/libedit.sh" "$target" "$toolchain" "$c_library_flags" 2>> "$log") || fail "building libedit"
utf8proc=$("$root/third_party/fetch.sh" utf8proc 2>> "$log") || fail "fetching utf8proc"
json=$("$root/third_party/fetch.sh" nlohmann-json3 2>> "$log") || fail "fetching nlohmann-json"

step "building orvik-session"
# One build of a target's tree at a time.
mkdir -p "$(dirname "$work")"
exec 8> "$work.lock"
flock 8
# pkg-config sees the target's libedit alone, and with --static names what
# its archive needs (ncurses) too.
PKG_CONFIG_LIBDIR=$libedit/lib/pkgconfig "$bin/cmake" -S "$root" -B "$work" -G "Unix Makefiles" \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain/toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_FLAGS="$cflags" -DCMAKE_CXX_FLAGS="$cflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DBUILD_TESTING=OFF -DORVIK_BUILD_PYTHON=OFF -DORVIK_INSTALL_LIBRARY=OFF -DORVIK_BUILD_SESSION_TOOL=ON \
  -DORVIK_BUILD_TLS=ON -DORVIK_SESSION_LIBEDIT=ON \
  -DORVIK_TARGET_PREFIXES="$openssl;$libedit" -DPKG_CONFIG_ARGN=--static \
  -DOPENSSL_ROOT_DIR="$openssl" -DOPENSSL_USE_STATIC_LIBS=ON \
  -DORVIK_CAPNP_PACKAGE=ON -DCapnProto_DIR="$capnp/lib/cmake/CapnProto" -DORVIK_CAPNP_COMPILER="$capnp/bin/capnp" \
  -DORVIK_CAPNP_HEADERS="$capnp/include" \
  -DORVIK_UTF8PROC_SOURCE_DIR="$utf8proc" -DORVIK_NLOHMANN_JSON_SOURCE_DIR="$json" >> "$log" 2>&1 \
  || fail "configuring orvik-session"
"$bin/cmake" --build "$work" --target orvik-session -j "${JOBS:-2}" >> "$log" 2>&1 || fail "building orvik-session"
session=$work/orvik_session/orvik-session
[ -x "$session" ] || fail "finding the built orvik-session"
"$bin/python" -c "import sys; from elftools.elf.elffile import ELFFile; \
sys.exit(any(s['p_type'] == 'PT_INTERP' for s in ELFFile(open(sys.argv[1], 'rb')).iter_segments()))" "$session" \
  || fail "linking $session statically (it names a loader)"
echo "$session"
