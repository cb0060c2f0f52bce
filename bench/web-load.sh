#!/usr/bin/env bash
# The editor's server on the large Access fixture's catalogue, over loopback:
# start-up, first page load, a find keystroke, a module page, and the read
# API under 50 concurrent clients (wrk).
#
#   bash bench/web-load.sh [BUILD]     # BUILD defaults to build
#
# KIV_LARGE_FIXTURE names the Access file (default: the shared fixtures beside the clone; it
# is read in place, never copied into the repository); KIV_WEB_CATALOGUE names
# a catalogue imported from it before, to skip the import (say, to compare two
# builds on the same file).  KIV_WEB_PORT picks
# the port (default 18080), KIV_WRK_SECONDS the wrk run (default 20).
set -euo pipefail

build=${1:-build}
kivplc=$build/cli/kivplc
port=${KIV_WEB_PORT:-18080}
seconds=${KIV_WRK_SECONDS:-20}
base=http://127.0.0.1:$port
here=$(cd "$(dirname "$0")" && pwd)
fixture=${KIV_LARGE_FIXTURE:-$here/../../shared/fixtures/access/catalogue-large.mdb}

work=$(mktemp -d)
server=""
cleanup() {
  [ -n "$server" ] && kill -TERM "$server" 2>/dev/null && wait "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

catalogue=${KIV_WEB_CATALOGUE:-$work/large.db}
if [ -z "${KIV_WEB_CATALOGUE:-}" ]; then
  echo "== import-access $(basename "$fixture")"
  /usr/bin/time -f "import: %e s wall" "$kivplc" import-access "$fixture" "$catalogue" >/dev/null
fi
echo "== $kivplc serve, load: $(cut -d' ' -f1-3 /proc/loadavg)"

begin=$(date +%s.%N)
"$kivplc" -c "$catalogue" serve --listen "127.0.0.1:$port" >"$work/serve.log" 2>&1 &
server=$!
until curl -sf -o /dev/null "$base/api/session"; do
  kill -0 "$server" 2>/dev/null || { cat "$work/serve.log"; exit 1; }
  sleep 0.05
done
echo "server answering after $(awk -v a="$begin" -v b="$(date +%s.%N)" 'BEGIN {printf "%.2f", b - a}') s (reads the find list first)"

ms() { curl -s -o /dev/null -w '%{time_total}' "$@" | awk '{printf "%.1f", $1 * 1000}'; }
json() { curl -s "$base$1" | python3 -c "import json, sys; d = json.load(sys.stdin); print($2)"; }

# What the page fetches before it can be used: the page, its scripts (app.js
# and the modules it imports) and style sheet, the session and the tree.
total=0
for path in / $(cd "$here/../web/static" && ls *.js | sed 's|^|/|') /app.css /api/session /api/tree; do
  t=$(ms "$base$path"); total=$(awk -v a="$total" -v b="$t" 'BEGIN {print a + b}')
  printf '  %-14s %7s ms\n' "$path" "$t"
done
echo "first page load (sequential sum): $total ms"

# A module with terminal rows: the first type's first module.
read -r m s t < <(json /api/tree "'\t'.join(next((m['name'], s['name'], t['name']) for m in d['manufacturers'] for s in m['series'] for t in s['types'] if t['modules']))" | tr '\t' '\n' | python3 -c "import sys, urllib.parse; print(' '.join(urllib.parse.quote(l.strip()) for l in sys.stdin))")
type="m=$m&s=$s&t=$t"
code=$(json "/api/type?$type" "d['modules'][len(d['modules']) // 2]['CODE']")
qcode=$(python3 -c "import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1]))" "$code")
part=$(python3 -c "import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1][:4]))" "$code")
echo "module used: $code ($(json "/api/module?$type&code=$qcode" "len(d['terminals'])") terminal rows)"

for q in "${part:0:1}" "${part:0:2}" "$part" "$qcode" "zzzz-no-match"; do
  printf '  find q=%-14s %7s ms\n' "$q" "$(ms "$base/api/find?q=$q&limit=50")"
done
for i in 1 2 3; do
  printf '  module page     %7s ms   type page %7s ms\n' "$(ms "$base/api/module?$type&code=$qcode")" \
    "$(ms "$base/api/type?$type")"
done

echo "== wrk: 50 clients, ${seconds} s, find / module / type / tree in turn"
cat >"$work/reads.lua" <<LUA
local paths = {"/api/find?q=$part&limit=50", "/api/module?$type&code=$qcode",
               "/api/find?q=$qcode&limit=50", "/api/type?$type", "/api/tree"}
local i = 0
request = function()
  i = i % #paths + 1
  return wrk.format("GET", paths[i])
end
LUA
wrk -t2 -c50 -d"${seconds}s" --latency -s "$work/reads.lua" "$base" | sed -n '1,/Requests\/sec/p'
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
