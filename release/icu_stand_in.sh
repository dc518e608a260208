#!/usr/bin/env bash
# Temporary, with icu_stand_in.cpp: builds a static stand-in for ICU's common
# library from the pinned utf8proc for one zig target into DEST (lib/ and
# include/, ICU's own headers for its macros) and prints DEST.
#   release/icu_stand_in.sh TOOLCHAIN_DIR DEST
set -euo pipefail
toolchain=$(cd "${1:?usage: release/icu_stand_in.sh TOOLCHAIN_DIR DEST}" && pwd)
dest=${2:?usage: release/icu_stand_in.sh TOOLCHAIN_DIR DEST}
here=$(cd "$(dirname "$0")" && pwd)
utf8proc=$("$here/../third_party/fetch.sh" utf8proc)
mkdir -p "$dest/lib" "$dest/include"
ln -sfn /usr/include/unicode "$dest/include/unicode"
"$toolchain/cc" -O2 -fPIC -fvisibility=hidden -DUTF8PROC_STATIC -c "$utf8proc/utf8proc.c" -o "$dest/utf8proc.o"
"$toolchain/c++" -std=c++17 -O2 -fPIC -fvisibility=hidden -DUTF8PROC_STATIC -I "$dest/include" -I "$utf8proc" \
  -c "$here/icu_stand_in.cpp" -o "$dest/icu_stand_in.o"
rm -f "$dest/lib/libicuuc.a"
"$toolchain/ar" rcs "$dest/lib/libicuuc.a" "$dest/utf8proc.o" "$dest/icu_stand_in.o"
echo "$dest"
