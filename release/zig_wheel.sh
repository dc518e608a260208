#!/usr/bin/env bash
# Builds the release wheel for one zig target (x86_64-linux-gnu.2.17 or
# aarch64-linux-gnu.2.17) from pinned sources and repairs it into DIST as
# manylinux_2_17 (manylinux2014): Cap'n Proto's runtime and the Unicode tables
# linked in statically, libc++ too, only PyInit_orvik exported. Prints one
# line per step; everything the tools say goes to LOG.
#   release/zig_wheel.sh TARGET PYTHON DIST LOG
set -euo pipefail
usage="usage: release/zig_wheel.sh TARGET PYTHON DIST LOG"
target=${1:?$usage}
py=${2:?$usage}
dist=${3:?$usage}
log=${4:?$usage}
arch=${target%%-*}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
bin=$(dirname "$py")
zig=$("$py" -c "import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), 'zig'))")
work=$root/build/wheel/$target
toolchain=$root/build/zig/$target

# Measured with bench/ (see bench/RESULTS.md): full LTO across Cap'n Proto's
# readers, the library and the extension. No debug information at all: where
# the host's strip knows only its own architecture (binutils), the aarch64
# module would otherwise keep 10 MB of it.
cflags="-O3 -g0 -flto=full -fno-plt -ffunction-sections -fdata-sections"
ldflags="-flto=full -Wl,--gc-sections -Wl,-O2 -s"

step() { echo "$target: $*"; echo "==== $*" >> "$log"; }
fail() { tail -40 "$log"; echo "$target: $* failed (log: $log)"; exit 1; }

step "zig $("$zig" version) wrappers and the limited-API headers"
"$here/zig_toolchain.sh" "$target" "$zig" "$toolchain" >> "$log" 2>&1 || fail "writing the zig wrappers"
headers=$("$py" "$here/python_headers.py" "$target" "$toolchain/c++" "$toolchain/python" 2>> "$log") \
  || fail "writing the Python headers"

step "Cap'n Proto's schema compiler and runtime from the pinned source (cached; the first time some minutes)"
capnp=$("$here/capnp_runtime.sh" "$target" "$toolchain" "$bin/cmake" "$cflags" 2>> "$log") \
  || fail "building Cap'n Proto"
utf8proc=$("$root/third_party/fetch.sh" utf8proc 2>> "$log") || fail "fetching utf8proc"
json=$("$root/third_party/fetch.sh" nlohmann-json3 2>> "$log") || fail "fetching nlohmann-json"

# The wheel's orvik-session is the static one of its architecture: it needs
# nothing of the target's glibc, so the wheel stays manylinux_2_17, and
# OpenSSL and libedit are built for the musl targets alone.
session=$("$here/static_session.sh" "$arch-linux-musl" "$py" "$log") || exit 1
step "the licences and the SBOM of what the extension and orvik-session link in"
rm -rf "$work/metadata"
"$py" "$here/wheel_metadata.py" "$(dirname "$zig")/lib" "$work/metadata" >> "$log" 2>&1 \
  || fail "writing the licences and the SBOM"

step "building the extension with pip wheel (zig builds libc++ once into its own cache: the first time 1-2 minutes more)"
rm -rf "$work/orvik-"*.whl
define=(
  -C "cmake.define.CMAKE_TOOLCHAIN_FILE=$toolchain/toolchain.cmake"
  -C "cmake.define.CMAKE_C_FLAGS=$cflags"
  -C "cmake.define.CMAKE_CXX_FLAGS=$cflags"
  -C "cmake.define.CMAKE_SHARED_MODULE_LINKER_FLAGS=$ldflags"
  -C "cmake.define.CMAKE_EXE_LINKER_FLAGS=$ldflags"
  -C "cmake.define.ORVIK_CAPNP_PACKAGE=ON"
  -C "cmake.define.CapnProto_DIR=$capnp/lib/cmake/CapnProto"
  -C "cmake.define.ORVIK_CAPNP_COMPILER=$capnp/bin/capnp"
  -C "cmake.define.ORVIK_CAPNP_HEADERS=$capnp/include"
  -C "cmake.define.Python_INCLUDE_DIR=$headers"
  -C "cmake.define.Python3_INCLUDE_DIR=$headers"
  -C "cmake.define.ORVIK_UTF8PROC_SOURCE_DIR=$utf8proc"
  -C "cmake.define.ORVIK_NLOHMANN_JSON_SOURCE_DIR=$json"
  -C "cmake.define.ORVIK_SESSION_EXECUTABLE=$session"
  -C "cmake.define.ORVIK_WHEEL_METADATA=$work/metadata"
)
# The wheel's platform tag names the target, not the host. pip builds in an
# isolated environment, into which scikit-build-core would fetch cmake and
# ninja from PyPI when the machine has none: for the target's platform, so for
# aarch64 they could not run here. The venv's cmake and the host's make build
# it instead.
cmake_bin=$("$py" -c "import cmake; print(cmake.CMAKE_BIN_DIR)")
_PYTHON_HOST_PLATFORM=linux-$arch CMAKE_EXECUTABLE=$cmake_bin/cmake CMAKE_GENERATOR="Unix Makefiles" \
  CMAKE_BUILD_PARALLEL_LEVEL=${JOBS:-2} "$py" -m pip wheel -v "$root" -w "$work" --no-deps \
  -C "build-dir=$work/cmake" "${define[@]}" >> "$log" 2>&1 || fail "building the wheel"

step "repairing it with auditwheel into manylinux_2_17_$arch"
rm -rf "$work/repaired"
# auditwheel offers only the host's architecture by name; "auto" takes the
# wheel's and its oldest policy that holds, which must be manylinux_2_17.
PATH="$bin:$PATH" "$bin/auditwheel" repair --plat auto -w "$work/repaired" "$work"/orvik-*.whl \
  >> "$log" 2>&1 || fail "repairing the wheel"
repaired=$(ls "$work"/repaired/orvik-*.whl)
name=$(basename "$repaired")
[[ $name == *-manylinux2014_$arch.manylinux_2_17_$arch.whl ]] || fail "tagging $name as manylinux_2_17_$arch"
# auditwheel names the legacy alias first, the release the glibc tag: either
# order means the same to pip, and the wheel's contents do not record its name.
mkdir -p "$dist"
mv "$repaired" "$dist/${name%%-manylinux*}-manylinux_2_17_$arch.manylinux2014_$arch.whl"
