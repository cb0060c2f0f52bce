#!/usr/bin/env python3
"""Lists every module whose terminal row count disagrees with its POINTS.

    points_mismatch.py CATALOGUE

One line per module: manufacturer / series / type, code, POINTS and the
number of terminal rows.  A POINTS that is not a whole number is listed
too.  Exits with status 1 when it listed any.
"""
import sys

import kivplc


def main(catalogue):
    found = 0
    with kivplc.open(catalogue) as cat:
        for t in cat.all_types():
            for module in t:  # one module at a time, however large the type
                rows = len(module.terminals)
                points = module.points.strip()
                if not points.isdigit() or int(points) != rows:
                    print(f"{t.manufacturer} / {t.series} / {t.name}\t{module.code}\tPOINTS {points!r}\t{rows} rows")
                    found += 1
    return 1 if found else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    try:
        sys.exit(main(sys.argv[1]))
    except kivplc.Error as e:  # a refusal is a message, not a traceback
        sys.exit(f"{sys.argv[0]}: {e}")
