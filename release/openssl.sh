#!/usr/bin/env bash
# Builds OpenSSL of the pinned release for one zig target (x86_64-linux-musl,
# aarch64-linux-musl, ...) and prints the installed prefix, for CMake's
# OPENSSL_ROOT_DIR: the static libssl.a and libcrypto.a, their headers and
# pkg-config files, and share/openssl/LICENSE.txt. Only what a TLS client
# needs: no programs, tests, manuals, shared libraries, engines, loadable
# modules or legacy provider, and none of the protocols and formats a client
# of the gateway never speaks (DTLS, QUIC, SSLv3, SRP, CMS, timestamps).
# The host's openssl.cnf is never read by itself: it belongs to the host's
# own OpenSSL and may name providers this build does not have. Cached per
# target (release/cached_build.sh).
#   release/openssl.sh TARGET TOOLCHAIN_DIR CFLAGS
set -euo pipefail
usage="usage: release/openssl.sh TARGET TOOLCHAIN_DIR CFLAGS"
target=${1:?$usage}
toolchain=$(cd "${2:?$usage}" && pwd)
read -ra flags <<< "${3?$usage}"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/cached_build.sh"
cache=${ORVIK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orvik}
source=$("$here/../third_party/fetch.sh" openssl)
version=$(. "$source/VERSION.dat" && echo "$MAJOR.$MINOR.$PATCH")
case $target in
  x86_64-*) platform=linux-x86_64 ;;
  aarch64-*) platform=linux-aarch64 ;;
  *) echo "openssl.sh: no OpenSSL platform for $target" >&2; exit 2 ;;
esac
options=(no-shared no-module no-dso no-engine no-legacy no-apps no-tests no-docs no-autoload-config
  no-dtls no-quic no-ssl3 no-srp no-srtp no-sctp no-comp no-cms no-ts)

# The marker, the licence, is written last.
build() {  # WORK STAGE
  local work=$1 stage=$2
  # /etc/ssl is where Debian keeps the trust store; the client names its
  # trust itself, so this is only the library's last default.
  mkdir -p "$work" && (cd "$work" \
    && "$source/Configure" "$platform" --prefix="$prefix" --libdir=lib --openssldir=/etc/ssl "${options[@]}" \
         CC="$toolchain/cc" AR="$toolchain/ar" RANLIB="$toolchain/ranlib" "${flags[@]}" \
    && make -j "${JOBS:-2}" build_libs && make install_dev DESTDIR="$work/destdir") \
  && mv "$work/destdir$prefix" "$stage" \
  && install -D -m 644 "$source/LICENSE.txt" "$stage/share/openssl/LICENSE.txt"
} >&2

prefix=$cache/openssl-$version-$target-$(target_digest "$toolchain" "$version ${flags[*]} ${options[*]} $(declare -f build)")
cached_build "$prefix.lock" "$prefix" share/openssl/LICENSE.txt build
