#!/usr/bin/env bash
# The main job, as a newcomer meets it: a catalogue made from the sample,
# then the usual road through it (the index, one type's modules, one
# module's specification and terminal rows).  Every kivplc command is
# printed before it runs, so it can be typed again by hand.
#
#   bash examples/demo.sh [BUILD-DIR]      (make demo does this)
set -euo pipefail
build=${1:-build}
db="$build/demo/catalogue.db"
export PATH="$PWD/$build/cli:$PATH"

# Quote an argument the way one would type it.
typed() {
  if [[ $1 =~ ^[A-Za-z0-9_./=:-]+$ ]]; then printf '%s' "$1"; else printf '"%s"' "${1//\"/\\\"}"; fi
}

run() {
  printf '\n$ kivplc'
  for arg in "$@"; do printf ' %s' "$(typed "$arg")"; done
  printf '\n'
  kivplc "$@"
}

mkdir -p "$build/demo"
rm -f "$db"
echo "A new catalogue from examples/sample-catalogue.json, in $db."
echo "To type these commands yourself:  export PATH=\"\$PWD/$build/cli:\$PATH\""
run init "$db"
run -c "$db" import examples/sample-catalogue.json
run -c "$db" tree
run -c "$db" modules "Kessler & O'Neil" KX200 "Digital Input"
run -c "$db" show "Kessler & O'Neil" KX200 "Digital Input" KX-DI16
echo
echo "More: kivplc --help, kivplc COMMAND --help, and the tour in docs/kivplc.md."
