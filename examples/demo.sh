#!/usr/bin/env bash
# The main job on the embedded engine: a fresh catalogue, used by a host.
set -euo pipefail
build=${1:-build}
mkdir -p "$build/demo"
rm -f "$build/demo/hello.db"
"$build/examples/hello_catalogue" "$build/demo/hello.db"
