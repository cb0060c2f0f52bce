#!/usr/bin/env bash
# Runs `make demo`'s script and then every ```sh block of docs/kivplc.md, as
# a reader would type them: from a directory laid out like the repository,
# with the build directory as build/.  Fails at the first command that does.
#
#   bash tests/cli_tour.sh SOURCE-DIR BUILD-DIR
set -eu
source_dir=$(cd "$1" && pwd)
build_dir=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ln -s "$build_dir" "$work/build"
ln -s "$source_dir/examples" "$work/examples"
cd "$work"

bash examples/demo.sh build >/dev/null

tour="$work/tour.sh"
{
  echo "set -e"
  awk '/^```sh$/ { inside = 1; next } /^```$/ { inside = 0; next } inside { print }' "$source_dir/docs/kivplc.md"
} >"$tour"
echo "running $(grep -c '^kivplc\|^  kivplc' "$tour") kivplc commands of docs/kivplc.md"
bash -x "$tour"
