#!/usr/bin/env bash
# The Python package against C++ through the catalogue layer, one run each:
# reading every module and terminal row of the large Access fixture's
# catalogue (imported into a catalogue file once), and writing 100,000
# terminal rows.  Usage: bench/python.sh BUILD [LARGE.mdb]
set -euo pipefail
build=${1:?build directory}
large=${2:-/work/shared/fixtures/access/catalogue-large.mdb}
work=$build/bench-python
mkdir -p "$work"
[ -f "$work/large.db" ] || "$build/cli/kivplc" import-access "$large" "$work/large.db" >/dev/null
export PYTHONPATH=$build/python
python=$(sed -n 's/^Python3_EXECUTABLE:FILEPATH=//p' "$build/CMakeCache.txt")
for side in cpp python; do
  rm -f "$work/write-$side.db"*
done
echo "C++:    $("$build/bench/catalogue_walk" walk "$work/large.db")"
echo "Python: $("$python" "$(dirname "$0")/python_bench.py" walk "$work/large.db")"
echo "C++:    $("$build/bench/catalogue_walk" write "$work/write-cpp.db")"
echo "Python: $("$python" "$(dirname "$0")/python_bench.py" write "$work/write-python.db")"
