#!/usr/bin/env python3
"""Adds a vendor's series to a catalogue from a CSV file.

    add_series_from_csv.py CATALOGUE MANUFACTURER SERIES FILE.csv

The CSV file has a header row naming its columns: TYPE and CODE, any of
the module's other columns (POINTS, DESCRIPTION, RATING, ...; letter case
aside), and TERMINALS, the module's terminal blocks separated by "|"
(one row each, numbered from 1).  Types that are missing are added;
a module whose code exists is reported and left as it is.
"""
import csv
import sys

import kivplc


def main(catalogue, manufacturer, series, path):
    added = skipped = 0
    with kivplc.open(catalogue) as cat, open(path, newline="", encoding="utf-8") as f:
        types = {}
        for line, row in enumerate(csv.DictReader(f), start=2):
            row = {k.strip().lower(): (v or "").strip() for k, v in row.items()}
            name = row.pop("type_name", None) or row.pop("type")
            t = types.get(name.casefold())
            if t is None:
                try:
                    t = cat.type(manufacturer, series, name)
                except kivplc.NotFound:
                    t = cat.add_type(manufacturer, series, name)
                types[name.casefold()] = t
            blocks = [b for b in row.pop("terminals", "").split("|") if b]
            code = row.pop("code")
            try:
                t.add_module(code, [kivplc.Terminal(i, b) for i, b in enumerate(blocks, 1)], **row)
                added += 1
            except kivplc.Duplicate:
                print(f"line {line}: {code} exists already; left as it is", file=sys.stderr)
                skipped += 1
            except kivplc.TooLong as e:
                sys.exit(f"line {line}: {code}: {e.column} is too long for its column ({e})")
    print(f"added {added} modules, {skipped} left as they were")


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    try:
        main(*sys.argv[1:])
    except kivplc.Error as e:  # a refusal is a message, not a traceback
        sys.exit(f"{sys.argv[0]}: {e}")
