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
  # Not in an `||` or `if`: there bash would ignore set -e in BUILD too, and a
  # step that failed would go unnoticed unless it was the last.
  (
    set -e
    exec 9> "$lock"
    flock 9
    if [ ! -e "$prefix/$marker" ]; then
      rm -rf "$prefix" "$prefix.build" "$prefix.tmp"
      "$build" "$prefix.build" "$prefix.tmp"
      [ -e "$prefix.tmp/$marker" ] || { echo "cached_build: $build made no $marker" >&2; exit 1; }
      mv "$prefix.tmp" "$prefix"
      rm -rf "$prefix.build"
    fi
  )
  local status=$?
  [ "$status" -eq 0 ] || return "$status"
  echo "$prefix"
}

#   target_digest TOOLCHAIN_DIR RECIPE
# Prints 12 hex digits that name one build for one zig target: the compiler's
# predefined macros (its version and the target's ABI) and RECIPE, what
# decides the build (its flags and options, and `declare -f build`, the build
# function's text without its comments), so that a change of any of them
# builds it anew and a change of a comment does not.
target_digest() {
  { echo "$2"; "$1/cc" -dM -E -x c /dev/null | sort; } | sha256sum | cut -c1-12
}
