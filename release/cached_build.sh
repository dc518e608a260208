# Sourced by the release scripts that build something once into the cache
# outside the checkout (ORVIK_CACHE, by default ~/.cache/orvik), shared by
# clean clones and CI on the same machine.
#   cached_build LOCK PREFIX MARKER BUILD
# Prints PREFIX once PREFIX/MARKER exists. Otherwise, holding LOCK (so that
# builds running at once make it once), it calls the caller's function
# BUILD WORK STAGE: build in the folder WORK, install into the folder STAGE.
# STAGE is then renamed to PREFIX, so nobody ever sees a half-made PREFIX,
# and WORK is removed. A failed BUILD leaves PREFIX absent.
cached_build() {
  local lock=$1 prefix=$2 marker=$3 build=$4
  if [ -e "$prefix/$marker" ]; then echo "$prefix"; return 0; fi
  mkdir -p "$(dirname "$prefix")"
  (
    exec 9> "$lock"
    flock 9
    if [ ! -e "$prefix/$marker" ]; then
      rm -rf "$prefix" "$prefix.build" "$prefix.tmp"
      "$build" "$prefix.build" "$prefix.tmp"
      [ -e "$prefix.tmp/$marker" ] || { echo "cached_build: $build made no $marker" >&2; exit 1; }
      mv "$prefix.tmp" "$prefix"
      rm -rf "$prefix.build"
    fi
  ) || return 1
  echo "$prefix"
}

#   target_digest TOOLCHAIN_DIR FLAGS FILE...
# Prints 12 hex digits that name one build for one zig target: the flags,
# the compiler's predefined macros (its version and the target's ABI) and
# the recipe FILEs, so that a change of any of them builds it anew.
target_digest() {
  local toolchain=$1 flags=$2
  shift 2
  { echo "$flags"; "$toolchain/cc" -dM -E -x c /dev/null | sort; cat "$@"; } | sha256sum | cut -c1-12
}
