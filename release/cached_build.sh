# Sourced by the release scripts that build a dependency once per target into
# the cache outside the checkout (ORVIK_CACHE, by default ~/.cache/orvik), so
# that clean clones and CI on the same machine reuse it.
#   target_digest TOOLCHAIN_DIR FLAGS FILE...   12 hex digits naming the build
#   cached_build PREFIX BUILD                   prints PREFIX, built once
cache=${ORVIK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orvik}

# The compiler's predefined macros name its version and the target's ABI;
# the flags and the recipe files (the calling script and this one) complete
# what decides the build, so a change of any of them builds it anew.
target_digest() {
  local toolchain=$1 flags=$2
  shift 2
  { echo "$flags"; "$toolchain/cc" -dM -E -x c /dev/null | sort; cat "$@" "${BASH_SOURCE[0]}"; } \
    | sha256sum | cut -c1-12
}

# Runs BUILD WORK STAGE under PREFIX's lock unless PREFIX is complete. BUILD
# configures for PREFIX, builds in WORK and installs into STAGE, which is then
# published as PREFIX by one rename: a build that failed or was interrupted
# leaves nothing that a later run mistakes for a finished one, and two runs
# at once build it once. What BUILD says goes to stderr.
cached_build() {
  local prefix=$1 build=$2
  if [ ! -f "$prefix/.complete" ]; then
    mkdir -p "$cache"
    exec 9> "$prefix.lock"
    flock 9
    if [ ! -f "$prefix/.complete" ]; then
      rm -rf "$prefix" "$prefix.build" "$prefix.tmp"
      mkdir -p "$prefix.build"
      "$build" "$prefix.build" "$prefix.tmp" >&2
      touch "$prefix.tmp/.complete"
      mv "$prefix.tmp" "$prefix"
      rm -rf "$prefix.build"
    fi
    exec 9>&-
  fi
  echo "$prefix"
}
