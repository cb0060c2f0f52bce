#!/usr/bin/env python3
"""The Python side of bench/python.sh: the same walk and write as
catalogue_walk, through the kivplc package.

    python_bench.py walk CATALOGUE
    python_bench.py write CATALOGUE
"""
import sys
import time
from time import process_time as cpu

import kivplc

ROWS, PER_MODULE = 100_000, 16


def walk(path):
    with kivplc.open(path) as cat:
        start, start_cpu = time.perf_counter(), cpu()
        modules = terminals = 0
        for t in cat.all_types():
            for module in t:
                modules += 1
                terminals += len(module.terminals)
        print(f"walk: {modules} modules, {terminals} terminal rows, {time.perf_counter() - start:.3f} s, "
              f"CPU {cpu() - start_cpu:.3f} s")


def write(path):
    with kivplc.create(path) as cat:
        t = cat.add_type("Bench", "B1", "Terminals")
        start, start_cpu = time.perf_counter(), cpu()
        rows = {}
        for i in range(ROWS):
            module, terminal = divmod(i, PER_MODULE)
            rows.setdefault(f"M{module:05d}", []).append((
                terminal + 1, "PLC_TERM_IN_LEFT" if (terminal + 1) % 2 else "PLC_TERM_IN_RIGHT",
                f"ADDR=I:{module}.{terminal + 1};TAG=X{i};DESC=Input terminal"))
        built, built_cpu = time.perf_counter(), cpu()
        refused = t.add_terminals(rows)
        assert not refused, refused[:3]
        end, end_cpu = time.perf_counter(), cpu()
        print(f"write: {ROWS} terminal rows, {end - built:.3f} s, CPU {end_cpu - built_cpu:.3f} s "
              f"(with making the rows {end - start:.3f} s, CPU {end_cpu - start_cpu:.3f} s)")


if __name__ == "__main__":
    {"walk": walk, "write": write}[sys.argv[1]](sys.argv[2])
