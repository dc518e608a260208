#!/usr/bin/env bash
# Unpacks the pinned upstream source of NAME (see third_party/pins) into the
# cache and prints its folder. The tarball comes from Debian's source archive
# through apt with a private source list, so the machine's own apt setup is
# neither needed nor touched; its SHA-256 must match the pin, or nothing is
# unpacked. The cache lives outside the checkout (ORVIK_CACHE, by default
# ~/.cache/orvik), so clean clones and CI on the same machine reuse it.
#   third_party/fetch.sh NAME
set -euo pipefail
name=${1:?usage: third_party/fetch.sh NAME}
here=$(cd "$(dirname "$0")" && pwd)
read -r _ version tarball sha256 < <(awk -v n="$name" '$1 == n' "$here/pins") \
  || { echo "fetch.sh: no pin for $name" >&2; exit 2; }
cache=${ORVIK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orvik}
dest=$cache/src/$name-$version
if [ -f "$dest/.unpacked" ]; then echo "$dest"; exit 0; fi

mkdir -p "$cache/src" "$cache/apt/lists/partial" "$cache/apt/archives/partial" "$cache/downloads"
exec 9> "$cache/src/.lock"
flock 9
if [ ! -f "$dest/.unpacked" ]; then
  if ! echo "$sha256  $cache/downloads/$tarball" | sha256sum --check --status 2>/dev/null; then
    printf 'deb-src http://deb.debian.org/debian %s main\n' trixie bookworm > "$cache/apt/sources.list"
    apt=(-q -o Dir::Etc::SourceList="$cache/apt/sources.list" -o Dir::Etc::SourceParts=/nonexistent
         -o Dir::State::Lists="$cache/apt/lists" -o Dir::Cache="$cache/apt")
    apt-get "${apt[@]}" update >&2
    # Only the upstream tarball is taken: its URL from the source index, the
    # download checked against the pin by apt's own helper.
    url=$(apt-get "${apt[@]}" source --print-uris "$name=$version" | awk -v t="$tarball" \
      '{ gsub("\047", "") } $2 == t { print $1 }')
    [ -n "$url" ] || { echo "fetch.sh: no $tarball in Debian's source index" >&2; exit 1; }
    /usr/lib/apt/apt-helper download-file "$url" "$cache/downloads/$tarball" "SHA256:$sha256" >&2 \
      || { echo "fetch.sh: $tarball could not be fetched or does not match its pinned SHA-256" >&2; exit 1; }
  fi
  rm -rf "$dest" && mkdir -p "$dest"
  tar -xf "$cache/downloads/$tarball" -C "$dest" --strip-components=1
  touch "$dest/.unpacked"
fi
echo "$dest"
