#!/usr/bin/env bash
# Installs what the Windows cross build needs and fetches the SQLite sources
# it compiles: MinGW-w64 (the POSIX-threads flavour, for std::thread and
# std::mutex), Wine to run the tests, GoogleTest's sources, and Debian's
# source package of SQLite.  Idempotent: asks apt only for what is missing
# and downloads the SQLite sources once.
#
# Usage: install-windows-deps.sh SOURCE_CACHE_DIR
# Prints nothing on success but the folder holding sqlite3.c and sqlite3.h
# on its last line.
set -euo pipefail

cache=${1:?usage: install-windows-deps.sh SOURCE_CACHE_DIR}
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine64 googletest dpkg-dev tcl)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
updated=""
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  $sudo apt-get update -qq
  updated=1
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

# Debian's source package of SQLite, for the machine's own suite.
mkdir -p "$cache"
src=$(find "$cache" -maxdepth 1 -type d -name 'sqlite3-*' | head -n1)
if [ -z "$src" ]; then
  . /etc/os-release
  list=/etc/apt/sources.list.d/kivplcdb-deb-src.sources
  if ! grep -rqs "^deb-src " /etc/apt/sources.list /etc/apt/sources.list.d/ &&
     ! grep -rqs "^Types:.*deb-src" /etc/apt/sources.list.d/; then
    # The same archive and key as the machine's binary packages (apt refuses
    # two Signed-By values for one archive).
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: %s\n' \
      "$VERSION_CODENAME" /usr/share/keyrings/debian-archive-keyring.gpg | $sudo tee "$list" >/dev/null
    updated=""
  fi
  [ "$updated" ] || $sudo apt-get update -qq
  (cd "$cache" && apt-get source -qq --download-only sqlite3 >&2 &&
   dpkg-source -x "$(ls sqlite3_*.dsc | head -n1)" >&2)
  src=$(find "$cache" -maxdepth 1 -type d -name 'sqlite3-*' | head -n1)
fi
[ -n "$src" ] || { echo "no SQLite sources in $cache" >&2; exit 1; }

# The amalgamation: one sqlite3.c made by the package's own build rules.
if [ ! -f "$src/bld/sqlite3.c" ]; then
  mkdir -p "$src/bld"
  (cd "$src/bld" && ../configure -q >&2 && make -s sqlite3.c >&2)
fi
echo "$src/bld"
