#!/usr/bin/env python3
"""Reads the Google Benchmark JSON files of one `make bench` run and prints
one table: operation, library, raw SQLite, ratio, target, met.

Each figure is the median over the run's repetitions.  Reads are compared
by CPU time (single-threaded work; on a shared machine wall time also
counts waiting for a core); anything that waits for the disk or opens
files (writes, bulk insert, connecting) by wall time.

usage: summary.py RESULTS_DIR [--markdown]
"""
import json
import os
import re
import sys

UNITS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def load(results):
    """{run name without clock suffix: {"real": s, "cpu": s, counters...}}"""
    runs, iterations = {}, {}
    for name in sorted(os.listdir(results)):
        if not name.endswith(".json"):
            continue
        with open(os.path.join(results, name)) as f:
            try:
                data = json.load(f)
            except json.JSONDecodeError:
                continue
        for b in data.get("benchmarks", []):
            if b.get("error_occurred"):
                continue
            # "Op/library/iterations:3/manual_time" -> "Op/library"
            run = re.sub(r"/(iterations|repeats|min_time|threads):[^/]*|/(real|manual)_time$", "",
                         b.get("run_name", b["name"]))
            scale = UNITS[b.get("time_unit", "ns")]
            entry = {k: v for k, v in b.items() if isinstance(v, (int, float))}
            entry["real"] = b["real_time"] * scale
            entry["cpu"] = b["cpu_time"] * scale
            entry["program"] = name[: -len(".json")]
            if b.get("run_type") == "aggregate":
                if b.get("aggregate_name") == "median":
                    runs[run] = entry
            else:
                iterations.setdefault(run, []).append(entry)
    for run, entries in iterations.items():
        runs.setdefault(run, entries[len(entries) // 2])  # a single repetition
    return runs, iterations


def fmt_ratio(ratio):
    return f"{ratio:.2f}x" if ratio >= 0.1 else f"{ratio:.2g}x"


def fmt_time(seconds):
    if seconds is None:
        return "-"
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    results = sys.argv[1]
    markdown = "--markdown" in sys.argv
    runs, iterations = load(results)
    rows = []  # (operation, library, raw, ratio, target, met)

    def section(title):
        rows.append((title,))

    def time_of(run, clock):
        entry = runs.get(run)
        return entry[clock] if entry else None

    def compare(label, op, clock, limit, note=""):
        lib, raw = time_of(op + "/library", clock), time_of(op + "/raw", clock)
        if lib is None or raw is None:
            rows.append((label, fmt_time(lib), fmt_time(raw), "-", f"<= {limit}x" if limit else note, "not run"))
            return
        ratio = lib / raw
        if limit:
            rows.append((label, fmt_time(lib), fmt_time(raw), fmt_ratio(ratio), f"<= {limit}x",
                         "yes" if ratio <= limit else "NO"))
        else:
            rows.append((label, fmt_time(lib), fmt_time(raw), fmt_ratio(ratio), note, "-"))

    section("Reads, CPU time per call")
    compare("GetModSpecData", "GetModSpecData", "cpu", 1.2)
    compare("GetModTermData (32 rows)", "GetModTermData", "cpu", 1.2)
    compare("GetArrayOfModSpecCodes (1,000)", "GetArrayOfModSpecCodes", "cpu", 1.2)
    compare("GetArrayOfAllIndexData (10,000)", "GetArrayOfAllIndexData", "cpu", 1.2)
    compare("DoesSpecDataExist", "DoesSpecDataExist", "cpu", 1.2)
    compare("GetStyleBoxData", "GetStyleBoxData", "cpu", 1.2)
    compare("GetSpecRecCount (1,000 rows)", "GetSpecRecCount", "cpu", 1.2)
    compare("ReturnLocalizedPrompt (5,000)", "ReturnLocalizedPrompt", "cpu", 1.2)
    for op, label in (("GetModTermData", "  raw + wide copies, 32 rows"),
                      ("GetArrayOfModSpecCodes", "  raw + wide copies, 1,000"),
                      ("GetArrayOfAllIndexData", "  raw + wide copies, 10,000")):
        if op + "/raw-copying" in runs:
            lib, raw = time_of(op + "/library", "cpu"), time_of(op + "/raw-copying", "cpu")
            rows.append((label, fmt_time(lib), fmt_time(raw), f"{lib / raw:.2f}x", "info", "-"))

    section("Writes, wall time per call (WAL, synchronous=FULL)")
    compare("UpdateModSpecData (3 fields)", "UpdateModSpecData", "real", 1.2)
    compare("AddModSpecData", "AddModSpecData", "real", 1.2)
    compare("RenameModTermData (32 rows)", "RenameModTermData", "real", 1.2)
    compare("AddIndexData, type (3 stmts)", "AddIndexData", "real", None, "info")
    lib = runs.get("AddModTermData/library") or runs.get("BM_AddModTermData")
    raw = runs.get("AddModTermData/raw") or runs.get("BM_RawSqlite")
    if lib and raw:
        rows.append(("AddModTermData 100,000 rows", fmt_time(lib["real"]), fmt_time(raw["real"]),
                     fmt_ratio(lib["real"] / raw["real"]), "<= 1.5x",
                     "yes" if lib["real"] / raw["real"] <= 1.5 else "NO"))
        for counter, label in (("rows/s", "  rows per second"), ("rows/cpu-s", "  rows per CPU second")):
            if counter in lib:
                rows.append((label, f"{lib[counter]:,.0f}", f"{raw.get(counter, 0):,.0f}", "-", ">= 100,000",
                             "yes" if lib[counter] >= 100000 else "NO"))
    else:
        rows.append(("AddModTermData 100,000 rows", "-", "-", "-", "<= 1.5x", "not run"))

    section("Connecting, wall time (Connect + destruction)")
    compare("Connect, new connection", "Connect", "real", None, "info")
    fresh, cached = time_of("Connect/library", "real"), time_of("ConnectCached/library", "real")
    if fresh and cached:
        speedup = fresh / cached
        rows.append(("Connect through the cache", fmt_time(cached), "-", f"{speedup:,.0f}x faster", ">= 20x faster",
                     "yes" if speedup >= 20 else "NO"))

    section("Scale, CPU time: 100,000 modules against 1,000")
    for op in ("GetModSpecData", "GetModTermData"):
        small, large = time_of(f"Scale/{op}/1000/library", "cpu"), time_of(f"Scale/{op}/100000/library", "cpu")
        raw_small, raw_large = time_of(f"Scale/{op}/1000/raw", "cpu"), time_of(f"Scale/{op}/100000/raw", "cpu")
        if small and large:
            growth = large / small
            raw_growth = f"raw {raw_large / raw_small:.2f}x" if raw_small and raw_large else "-"
            rows.append((f"{op} 1k -> 100k", f"{fmt_time(small)} -> {fmt_time(large)}", raw_growth,
                         f"{growth:.2f}x", "<= 1.5x", "yes" if growth <= 1.5 else "NO"))

    section("Memory: GetModTermData of 10,000 rows")
    mem = iterations.get("GetModTermDataMemory/library")
    if mem:
        peak = max(e.get("peak_extra_bytes", 0) for e in mem)
        text = max(e.get("text_bytes", 0) for e in mem)
        raw_mem = iterations.get("GetModTermDataMemory/raw")
        raw_peak = max(e.get("peak_extra_bytes", 0) for e in raw_mem) if raw_mem else None
        ratio = peak / text if text else float("inf")
        rows.append(("peak extra heap / text returned", f"{peak / 1e6:.2f} MB",
                     f"{raw_peak / 1e3:.1f} kB" if raw_peak is not None else "-",
                     f"{ratio:.2f}x text ({text / 1e6:.2f} MB)", "<= 3x", "yes" if ratio <= 3 else "NO"))

    imports = iterations.get("BM_ImportLargeAccessCatalogue")
    if imports:
        section("Access import of the large catalogue, wall time")
        entry = runs["BM_ImportLargeAccessCatalogue"]
        parts = entry.get("libmdb_s", 0) + entry.get("sqlite_s", 0)
        ratio = entry.get("ratio", 0)
        rows.append(("ImportAccessFile vs libmdb + SQLite", fmt_time(entry.get("import_s")), fmt_time(parts),
                     fmt_ratio(ratio), "<= 1.5x", "yes" if ratio <= 1.5 else "NO"))

    if any(r.startswith("Pg") for r in runs):
        section("PostgreSQL, wall time per call (raw: libpq, same statements and server)")
        for op, label in (("GetModSpecData", "GetModSpecData"), ("GetModTermData", "GetModTermData (32 rows)"),
                          ("GetArrayOfModSpecCodes", "GetArrayOfModSpecCodes (1,000)"),
                          ("GetArrayOfAllIndexData", "GetArrayOfAllIndexData (10,000)"),
                          ("DoesSpecDataExist", "DoesSpecDataExist"), ("GetStyleBoxData", "GetStyleBoxData"),
                          ("GetSpecRecCount", "GetSpecRecCount (1,000 rows)")):
            compare(label, "Pg" + op, "real", 1.2)
        compare("AddModTermData 100,000 rows", "PgAddModTermData", "real", 1.3)
        lib = runs.get("PgAddModTermData/library")
        if lib and "rows/s" in lib:
            raw = runs.get("PgAddModTermData/raw", {})
            rows.append(("  rows per second", f"{lib['rows/s']:,.0f}", f"{raw.get('rows/s', 0):,.0f}", "-",
                         ">= 50,000", "yes" if lib["rows/s"] >= 50000 else "NO"))
        copy = runs.get("PgCopyLargeAccess")
        rows.append(("kivplc init + copy, large Access file", fmt_time(copy["real"]) if copy else "-", "-", "-",
                     "info", "-" if copy else "not run"))

    # Figures of programs without a raw counterpart, e.g. the index naming.
    known = ("/library", "/raw", "/raw-copying")
    shown = ("BM_ImportLargeAccessCatalogue", "BM_AddModTermData", "BM_RawSqlite", "PgCopyLargeAccess")
    extra = [r for r in sorted(runs) if not r.endswith(known) and not r.startswith("Scale/") and r not in shown]
    if extra:
        section("Other figures (no raw counterpart), wall time")
        for run in extra:
            label = f"{run.removeprefix('BM_')} ({runs[run]['program']})"
            rows.append((label, fmt_time(runs[run]["real"]), "-", "-", "info", "-"))

    header = ("operation", "library", "raw SQLite", "ratio", "target", "met")
    widths = [max(len(str(r[i])) for r in rows + [header] if len(r) > 1) for i in range(len(header))]
    if markdown:
        print("| " + " | ".join(header) + " |")
        print("|" + "|".join("---" for _ in header) + "|")
        for r in rows:
            if len(r) == 1:
                print(f"| **{r[0]}** |" + " |" * (len(header) - 1))
            else:
                print("| " + " | ".join(str(c) for c in r) + " |")
    else:
        line = "  ".join(h.ljust(w) for h, w in zip(header, widths))
        print(line)
        print("-" * len(line))
        for r in rows:
            if len(r) == 1:
                print(r[0])
            else:
                print("  ".join(str(c).ljust(w) for c, w in zip(r, widths)))
    conditions = os.path.join(results, "conditions.txt")
    if os.path.exists(conditions):
        print()
        with open(conditions) as f:
            print(f.read().rstrip())
    missed = [r for r in rows if len(r) > 1 and r[5] in ("NO", "not run")]
    return 1 if missed and "--strict" in sys.argv else 0


if __name__ == "__main__":
    sys.exit(main())
