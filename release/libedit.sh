#!/usr/bin/env bash
# Builds the line-editing library of the pinned releases for one zig target
# (x86_64-linux-musl, aarch64-linux-musl, ...): ncurses' terminal library,
# then libedit on it, both static, into one prefix that it prints, whose
# lib/pkgconfig holds libedit.pc (Libs.private names ncurses, so a static link
# asks pkg-config with --static). Licences in share/ncurses/COPYING and
# share/libedit/COPYING. Cached per target (release/cached_build.sh).
#
# ncurses finds terminal descriptions where the running machine keeps them
# (/etc/terminfo, /lib/terminfo, /usr/share/terminfo, ~/.terminfo), and
# carries the common ones compiled in for a machine or a container that has
# none. Those come from the pinned source's terminfo.src, turned into C by
# the host's tic and infocmp (ncurses-bin, essential on Debian).
#   release/libedit.sh TARGET TOOLCHAIN_DIR CFLAGS
set -euo pipefail
usage="usage: release/libedit.sh TARGET TOOLCHAIN_DIR CFLAGS"
target=${1:?$usage}
toolchain=$(cd "${2:?$usage}" && pwd)
flags=${3?$usage}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/cached_build.sh"
cache=${ORVIK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orvik}
ncurses=$("$here/../third_party/fetch.sh" ncurses)
libedit=$("$here/../third_party/fetch.sh" libedit)
fallbacks=xterm,xterm-256color,screen,screen-256color,tmux,tmux-256color,linux,vt100,vt220,ansi,dumb
host_triple=${target%%.*}

# The marker, libedit's licence, is written last.
# Cross-compiling, libedit's configure cannot run malloc(0) and would swap in
# a replacement that nothing defines; musl's is sound. musl's wchar_t holds
# ISO 10646 characters, which it states in <stdc-predef.h>, a header gcc
# includes by itself and zig's clang does not: libedit wants to be told.
build() {  # WORK STAGE
  local work=$1 stage=$2 destdir=$1/destdir
  local tools=(CC="$toolchain/cc" AR="$toolchain/ar" RANLIB="$toolchain/ranlib" CFLAGS="$flags")
  mkdir -p "$work/ncurses" "$work/libedit" && (cd "$work/ncurses" \
    && "$ncurses/configure" --host="$host_triple" --build="$(cc -dumpmachine)" --with-build-cc=cc \
         --prefix="$prefix" "${tools[@]}" --without-shared --with-normal --disable-widec --without-debug \
         --without-cxx --without-cxx-binding --without-ada --without-progs --without-tests --without-manpages \
         --disable-db-install --enable-overwrite --without-gpm --disable-root-environ \
         --enable-pc-files --with-pkg-config-libdir="$prefix/lib/pkgconfig" \
         --with-fallbacks="$fallbacks" --with-tic-path="$(command -v tic)" --with-infocmp-path="$(command -v infocmp)" \
         --with-default-terminfo-dir=/usr/share/terminfo \
         --with-terminfo-dirs=/etc/terminfo:/lib/terminfo:/usr/share/terminfo \
    && make -j "${JOBS:-2}" && make install DESTDIR="$destdir") \
  && (cd "$work/libedit" \
    && "$libedit/configure" --host="$host_triple" --prefix="$prefix" "${tools[@]}" \
         CPPFLAGS="-I$destdir$prefix/include -D__STDC_ISO_10646__=201206L" LDFLAGS="-L$destdir$prefix/lib" \
         ac_cv_func_malloc_0_nonnull=yes ac_cv_func_realloc_0_nonnull=yes \
         --disable-shared --enable-static --disable-examples \
    && make -j "${JOBS:-2}" && make install DESTDIR="$destdir") \
  && mv "$destdir$prefix" "$stage" && rm -rf "$stage/share/man" \
  && install -D -m 644 "$ncurses/COPYING" "$stage/share/ncurses/COPYING" \
  && install -D -m 644 "$libedit/COPYING" "$stage/share/libedit/COPYING"
} >&2

prefix=$cache/libedit-$(basename "$libedit" | cut -d- -f2-3)-ncurses-$(basename "$ncurses" | cut -d- -f2)-$target-$(
  target_digest "$toolchain" "$flags $fallbacks $(declare -f build)")
cached_build "$prefix.lock" "$prefix" share/libedit/COPYING build
