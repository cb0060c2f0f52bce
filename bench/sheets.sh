#!/usr/bin/env bash
# The spreadsheets beside the JSON document on the large Access fixture:
# export --csv against export, import --csv against import, each into a
# new catalogue file, wall-clock seconds of one run each.
#   bash bench/sheets.sh BUILD [ACCESS_FILE]
set -euo pipefail
build=$(cd "${1:?usage: bench/sheets.sh BUILD [ACCESS_FILE]}" && pwd)
source=$(realpath "${2:-$(dirname "$0")/../../shared/fixtures/access/catalogue-large.mdb}")
kivplc=$build/cli/kivplc
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
seconds() {  # label, command...
  local label=$1 start end
  shift
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  printf '%-12s %6.2f s\n' "$label" "$(echo "$end - $start" | bc)"
}
"$kivplc" import-access "$source" source.db >/dev/null
"$kivplc" init json.db >/dev/null
"$kivplc" init csv.db >/dev/null
seconds "export" "$kivplc" -c source.db export -o doc.json
seconds "export --csv" "$kivplc" -c source.db export --csv sheets
seconds "import" "$kivplc" -c json.db import doc.json
seconds "import --csv" "$kivplc" -c csv.db import --csv sheets
