import json
import os
import subprocess
import sys
import threading

import pytest

import kivplc
from conftest import FIXTURES

DI = ("Kessler & O'Neil", "KX200", "Digital Input")


@pytest.mark.parametrize("name", ["catalogue-small.mdb", "catalogue-small.accdb"])
def test_walk_of_an_access_catalogue_reads_every_row_and_refuses_changes(name):
    manifest = json.load(open(os.path.join(FIXTURES, name + ".manifest.json")))
    rows = {t["name"]: t["rowCount"] for t in manifest["tables"]}
    with kivplc.open(os.path.join(FIXTURES, name)) as cat:
        types = list(cat.all_types())
        modules = terminals = 0
        for t in types:
            walked = [(m.code, len(m.terminals)) for m in t]
            assert [code for code, _ in walked] == list(t.modules)
            modules += len(walked)
            terminals += sum(n for _, n in walked)
        assert modules == sum(rows[t.table] for t in types)
        assert terminals == sum(rows[t.table + "_Data"] for t in types)
        module = next(iter(types[0]))
        module.description = "changed"
        with pytest.raises(kivplc.ReadOnly):
            module.save()
        for manufacturer in ("New", types[0].manufacturer):  # a new manufacturer, a new series
            with pytest.raises(kivplc.ReadOnly):
                cat.add_type(manufacturer, "New", "T")


def test_error_kinds(cat, tmp_path):
    t = cat.add_type(*DI)
    m = t.add_module("KX-DI08", [kivplc.Terminal(1, "B")], points="8")
    bad_document = tmp_path / "bad.json"
    bad_document.write_text("{")
    cases = [
        (lambda: cat.type("Nobody", "S", "T"), kivplc.NotFound, None),
        (lambda: kivplc.open(str(tmp_path / "missing.db")), kivplc.NotFound, None),
        (lambda: cat.add_type(*DI), kivplc.Duplicate, None),
        (lambda: t.add_module("kx-di08"), kivplc.Duplicate, None),
        (lambda: setattr(m, "description", "é" * 151), kivplc.TooLong, "DESCRIPTION"),
        (lambda: setattr(m, "category", "x" * 11), kivplc.TooLong, "CATEGORY"),
        (lambda: t.add_module("N", optional_block="x" * 256), kivplc.TooLong, "OPTIONAL_BLOCK"),
        (lambda: kivplc.Terminal(1, "b" * 256), kivplc.TooLong, "BLOCK"),
        (lambda: t.add_module("N", colour="red"), kivplc.Invalid, None),
        (lambda: setattr(m, "rating", "a\0b"), kivplc.Invalid, None),
        (lambda: cat.import_(str(bad_document)), kivplc.Invalid, None),
    ]
    for action, kind, column in cases:
        with pytest.raises(kind) as raised:
            action()
        assert isinstance(raised.value, kivplc.Error)
        assert raised.value.column == column
    assert "N" not in t.modules
    m.description = "é" * 150  # the width counts characters, not bytes
    m.save()
    assert t.modules["KX-DI08"].description == "é" * 150


def test_module_edits_survive_reopening_and_a_stale_copy_is_refused(cat, where):
    t = cat.add_type(*DI)
    t.add_module("KX-DI08", [kivplc.Terminal(s, f"B{s}", "a") for s in (1, 2, 3)], points="8", category="DI")
    mine, theirs = t.modules["KX-DI08"], t.modules["KX-DI08"]
    mine.description = "16 inputs"
    del mine.terminals[1]
    mine.terminals[0].block = "first"
    mine.terminals.append(kivplc.Terminal(9, "last"))
    mine.save()
    theirs.points = "16"
    with pytest.raises(kivplc.Stale):
        theirs.save()
    mine.code = "KX-DI16"
    mine.save()
    cat.close()
    with kivplc.open(where) as again:
        modules = again.type(*DI).modules
        assert list(modules) == ["KX-DI16"]
        m = modules["KX-DI16"]
        assert (m.points, m.description, m.category) == ("8", "16 inputs", "DI")
        assert [(r.sequence, r.block, r.attributes) for r in m.terminals] == [(1, "first", "a"), (3, "B3", "a"),
                                                                              (9, "last", "")]
        m.terminals[0].attributes = "b"  # a change of ATTRIBUTES alone is a change
        m.save()
        assert [r.attributes for r in modules["KX-DI16"].terminals] == ["b", "a", ""]
        del modules["KX-DI16"]
        assert len(again.type(*DI)) == 0


def test_export_import_find_and_refused_terminal_rows(cat, tmp_path):
    t = cat.add_type(*DI)
    t.add_module("KX-DI08", [kivplc.Terminal(1, "B")], description="Eingänge")
    refused = t.add_terminals("KX-DI08", [(3, "C", "X=1"), (1, "B"), [2, "new"]])  # 1 is stored as it is
    assert [(r.sequence, r.kind) for r in refused] == [(1, "duplicate")]
    assert t.modules["KX-DI08"].terminals == [kivplc.Terminal(1, "B"), kivplc.Terminal(2, "new"),
                                              kivplc.Terminal(3, "C", "X=1")]
    for row, kind, column in [((4, "b" * 256), kivplc.TooLong, "BLOCK"), ((4, "B", "a\0"), kivplc.Invalid, None),
                              (("4", "B"), kivplc.Invalid, None), ((4, 5), kivplc.Invalid, None),
                              ((), kivplc.Invalid, None), ((4, "B", "", ""), kivplc.Invalid, None),
                              (4, kivplc.Invalid, None)]:
        with pytest.raises(kind) as raised:
            t.add_terminals({"KX-DI08": [(5, "fine"), row]})
        assert raised.value.column == column, row
    assert len(t.modules["KX-DI08"].terminals) == 3
    cat.add_type("Other", "O1", "Relay").add_module("R-KX-DI")
    assert [(f.code, f.exact_code) for f in cat.find("kx-di08")] == [("KX-DI08", True)]
    assert [f.code for f in cat.find("KX-DI")] == ["KX-DI08", "R-KX-DI"]
    assert [f.code for f in cat.find("EINGÄNGE")] == ["KX-DI08"]
    document = tmp_path / "catalogue.json"
    cat.export(str(document))
    with kivplc.create(str(tmp_path / "copy.db")) as copy:
        counts = copy.import_(str(document))
        assert (counts["types"], counts["modules"], counts["terminals"]) == (2, 2, 3)
        again = tmp_path / "again.json"
        copy.export(str(again))
    assert again.read_text() == document.read_text()
    assert [m.name for m in cat.tree()] == ["Kessler & O'Neil", "Other"]
    assert cat.tree()[0].series[0].types[0].modules == 1


def test_threads_share_a_catalogue(cat):
    t = cat.add_type(*DI)
    errors = []

    def add(prefix):
        try:
            for i in range(40):
                t.add_module(f"{prefix}{i}", [kivplc.Terminal(1, prefix)])
        except Exception as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=add, args=(p,)) for p in "AB"]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    assert errors == [] and len(t) == 80
    assert sum(len(m.terminals) for m in t) == 80


def test_close_waits_for_a_running_call_and_later_calls_are_refused(tmp_path):
    cat = kivplc.open(os.path.join(FIXTURES, "catalogue-small.mdb"))
    t = next(cat.all_types())
    closer = threading.Timer(0.005, cat.close)
    closer.start()
    cat.export(str(tmp_path / "whole.json"))  # still running when the other thread closes
    closer.join()
    assert len(json.load(open(tmp_path / "whole.json"))["manufacturers"]) > 0
    with pytest.raises(kivplc.Error, match="closed"):
        len(t)


def test_examples(tmp_path, where):
    examples = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "python")

    def run(script, *args):
        return subprocess.run([sys.executable, os.path.join(examples, script), *args], capture_output=True, text=True)

    source = str(tmp_path / "vendor.db")
    kivplc.create(source).close()
    kivplc.create(where).close()
    added = run("add_series_from_csv.py", source, "Kessler", "KX300", os.path.join(examples, "kx300.csv"))
    assert added.returncode == 0, added.stderr
    mismatch = run("points_mismatch.py", source)
    assert mismatch.returncode == 1 and mismatch.stdout.splitlines() == [
        "Kessler / KX300 / Relay Output\tKX3-RO02\tPOINTS '2'\t3 rows"]
    copied = run("copy_type.py", source, where, "Kessler", "KX300", "Relay Output")
    assert copied.returncode == 0, copied.stderr
    with kivplc.open(where) as cat:
        module = cat.type("Kessler", "KX300", "Relay Output").modules["KX3-RO02"]
        assert (module.rating, [r.block for r in module.terminals]) == ("230 V AC", ["Q0", "Q1", "COM"])


def test_every_public_name_is_documented():
    for name in kivplc.__all__:
        obj = getattr(kivplc, name)
        assert obj.__doc__, name
        for member, value in vars(obj).items() if isinstance(obj, type) else ():
            if not member.startswith("_") and (callable(value) or isinstance(value, property)):
                assert value.__doc__, f"{name}.{member}"
