"""KivPlcDb catalogues of PLC input/output modules, from Python.

A catalogue lists manufacturers, their series and the series' types; each
type has a table of modules, and each module its terminal rows::

    import kivplc

    with kivplc.open("plant.db") as cat:          # or a postgresql:// URI
        for m in cat.tree():
            print(m.name, [s.name for s in m.series])
        t = cat.type("Kessler & O'Neil", "KX200", "Digital Input")
        for module in t:                          # read one module at a time
            print(module.code, module.points, len(module.terminals))
        module = t.modules["KX-DI08"]
        module.description = "8 inputs, 24 V"     # TooLong past the column's width
        module.save()

The operations are those the kivplc tool and the catalogue editor use.
Refusals raise kivplc.Error or one of its kinds: NotFound, Duplicate,
TooLong (with .column), ReadOnly, Busy, ConnectionLost, Invalid and Stale.
"""

from collections.abc import Mapping as _Mapping
from typing import Iterator, List, Mapping, NamedTuple, Optional, Sequence, Tuple, Union

from ._kivplc import (Busy, ConnectionLost, Duplicate, Error, Invalid, NotFound, ReadOnly, SPEC_COLUMNS,
                      Spec, Stale, Terminal, TooLong)
from . import _kivplc

__all__ = [
    "open", "create", "Catalogue", "Type", "Modules", "Module", "Terminal", "Spec", "SPEC_COLUMNS",
    "Manufacturer", "Series", "TypeEntry", "Found", "TerminalRefusal",
    "Error", "NotFound", "Duplicate", "TooLong", "ReadOnly", "Busy", "ConnectionLost", "Invalid", "Stale",
]

_open = open  # the built-in, before this module's open() hides it

TerminalRow = Union[Terminal, Tuple[int, str, str], Tuple[int, str]]
"""A terminal row as add_module and add_terminals take it: a Terminal or a plain tuple."""


class TypeEntry(NamedTuple):
    """A type as the index lists it: its name, its table, its module count
    (-1 when not counted or without a table) and whether its tables are missing."""
    name: str
    table: str
    modules: int
    tables_missing: bool


class Series(NamedTuple):
    """A series and its types, in the index's order."""
    name: str
    types: List[TypeEntry]


class Manufacturer(NamedTuple):
    """A manufacturer and its series, in the index's order."""
    name: str
    series: List[Series]


class Found(NamedTuple):
    """A module that Catalogue.find matched; exact_code when its code is the text searched for."""
    manufacturer: str
    series: str
    type: str
    table: str
    code: str
    description: str
    exact_code: bool


class TerminalRefusal(NamedTuple):
    """A terminal row the engine refused: its SEQUENCE, the engine's reason,
    the refusal's kind (as Error.kind) and the column it is about, or ''."""
    sequence: int
    reason: str
    kind: str
    column: str


def open(where: str, create: bool = False) -> "Catalogue":  # noqa: A001 - the package's verb
    """Opens the catalogue file or postgresql:// URI `where`.

    With create=True, a catalogue file that does not exist yet is created
    empty first.  Raises NotFound when there is no catalogue at `where`.
    """
    if create and not where.startswith(("postgresql://", "postgres://")):
        import os.path
        if not os.path.exists(where):
            _kivplc.Core.create(where)
    return Catalogue(where)


def create(where: str) -> "Catalogue":
    """Creates a new, empty catalogue (a file that must not exist yet, or the
    fixed tables in an empty database or schema of a server) and opens it."""
    _kivplc.Core.create(where)
    return Catalogue(where)


class Catalogue:
    """An open catalogue.  Use it as a context manager, or call close().

    Objects read from it (types, modules) use it while it is open.  Calls
    that reach the engine let other Python threads run meanwhile.
    """

    def __init__(self, where: str):
        """Opens the catalogue at `where` (a file, or a postgresql:// URI)."""
        self._core = _kivplc.Core(where)

    def __enter__(self) -> "Catalogue":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def close(self) -> None:
        """Closes the connection; later calls raise Error."""
        self._core.close()

    @property
    def closed(self) -> bool:
        """Whether close() was called."""
        return self._core.closed

    def __repr__(self) -> str:
        return f"<kivplc.Catalogue {self._core.where!r}{' closed' if self.closed else ''}>"

    # --- the index -----------------------------------------------------

    def tree(self, count_modules: bool = True) -> List[Manufacturer]:
        """Manufacturers -> series -> types, as the index lists them; with
        count_modules, each type's module count (one query per type)."""
        return [Manufacturer(m, [Series(s, [TypeEntry(*t) for t in types]) for s, types in series])
                for m, series in self._core.tree(count_modules)]

    @property
    def manufacturers(self) -> List[str]:
        """The manufacturers' names, in the index's order."""
        return [m.name for m in self.tree(False)]

    def series(self, manufacturer: str) -> List[str]:
        """The series of `manufacturer`; NotFound when it is not listed."""
        return [s.name for s in self._entry(manufacturer).series]

    def types(self, manufacturer: str, series: str) -> List[str]:
        """The type names of a series; NotFound when it is not listed."""
        for s in self._entry(manufacturer).series:
            if s.name.casefold() == series.casefold():
                return [t.name for t in s.types]
        raise NotFound(f"no series {manufacturer} / {series}")

    def _entry(self, manufacturer: str) -> Manufacturer:
        for m in self.tree(False):
            if m.name.casefold() == manufacturer.casefold():
                return m
        raise NotFound(f"no manufacturer {manufacturer}")

    def listed(self, manufacturer: str, series: str = "", type: str = "") -> bool:  # noqa: A002
        """Whether the manufacturer [series [type]] is listed (names compare as the engine compares them)."""
        return self._core.listed(manufacturer, series, type)

    def type(self, manufacturer: str, series: str, type: str) -> "Type":  # noqa: A002
        """The type of those names; NotFound when it is not listed."""
        return Type(self, manufacturer, series, type, self._core.table_of(manufacturer, series, type))

    def all_types(self) -> Iterator["Type"]:
        """Every type that has its tables, in the index's order."""
        for m in self.tree(False):
            for s in m.series:
                for t in s.types:
                    if t.table and not t.tables_missing:
                        yield Type(self, m.name, s.name, t.name, t.table)

    def add_type(self, manufacturer: str, series: str, type: str) -> "Type":  # noqa: A002
        """Adds a type with its empty tables, and its manufacturer and series
        when they are not listed yet.  Duplicate when the type is listed."""
        if not self.listed(manufacturer):
            self._core.add_entry(manufacturer)
        if not self.listed(manufacturer, series):
            self._core.add_entry(manufacturer, series)
        self._core.add_entry(manufacturer, series, type)
        return self.type(manufacturer, series, type)

    def rename(self, manufacturer: str, series: str, type: str, new_name: str) -> None:  # noqa: A002
        """Gives the deepest entry named (series and type may be '') the name `new_name`."""
        self._core.rename_entry(manufacturer, series, type, new_name)

    def remove(self, manufacturer: str, series: str = "", type: str = "") -> None:  # noqa: A002
        """Removes the entry with the tables of every type under it."""
        self._core.remove_entry(manufacturer, series, type)

    # --- whole catalogue -----------------------------------------------

    def find(self, text: str, limit: int = 0) -> List[Found]:
        """Modules whose code equals or contains `text`, or whose description
        contains it, letter case aside; exact codes first.  At most `limit` (0: all)."""
        found, _truncated = self._core.find(text, limit)
        return [Found(*f) for f in found]

    def export(self, path: str) -> None:
        """Writes the whole catalogue as a JSON document to `path`, whole or
        not at all (an existing file is replaced).  Ctrl-C stops it."""
        self._core.export(path)

    def import_(self, path: str, *, replace: bool = False, skip_existing: bool = False,
                dry_run: bool = False, keep_going: bool = False) -> dict:
        """Adds what the JSON document at `path` (from export()) holds that the
        catalogue does not.  A module that exists and differs is refused unless
        replace (put the document's in its place) or skip_existing (keep it).
        Without keep_going, a refused row takes back everything the import
        wrote.  Returns the counts ('modules', 'terminals', 'refused', ...)
        and under 'messages' each refused row's reason."""
        return self._core.import_(path, replace, skip_existing, dry_run, keep_going)


def _field(column: str, width: int) -> property:
    attr = column.lower()

    def get(self):
        return getattr(self._spec, attr)

    def set_(self, value):
        setattr(self._spec, attr, value)

    what = f"at most {width} characters" if width else "long text"
    return property(get, set_, doc=f"{column} ({what}); assigning a longer text raises TooLong.")


class Type:
    """A type of a series: its table of modules.

    ``type.modules`` maps each code to its Module; iterating over the type
    reads one module at a time, so a large type is never held whole.
    """

    def __init__(self, catalogue: Catalogue, manufacturer: str, series: str, name: str, table: str):
        self.catalogue = catalogue
        self.manufacturer = manufacturer
        self.series = series
        self.name = name
        self.table = table

    def __repr__(self) -> str:
        return f"<kivplc.Type {self.manufacturer} / {self.series} / {self.name}>"

    @property
    def modules(self) -> "Modules":
        """The type's modules, a mapping of code to Module (read on access)."""
        return Modules(self)

    def __iter__(self) -> Iterator["Module"]:
        """Each module in code order, read as the iteration reaches it."""
        core = self.catalogue._core
        for code in core.codes(self.table):
            spec = core.read_module(self.table, code)
            if spec is not None:
                yield Module(self, spec)

    def __len__(self) -> int:
        return self.catalogue._core.module_count(self.table)

    @property
    def has_category(self) -> bool:
        """Whether the type's table has the CATEGORY column (tables made before it existed do not)."""
        return self.catalogue._core.has_category(self.table)

    def add_module(self, code: str, terminals: Sequence[TerminalRow] = (), **fields: str) -> "Module":
        """Adds module `code` with the given fields (lower-case column names,
        as Module's attributes) and terminal rows.  Duplicate when the code
        exists; TooLong for a text longer than its column.  Raises Error when
        the engine refused any terminal row (the module and the other rows stay)."""
        spec = Spec()
        spec.code = code
        for name, value in fields.items():
            if name not in _FIELD_NAMES:
                raise Invalid(f"unknown field {name!r}; fields are "
                              + ", ".join(c.lower() for c, _ in SPEC_COLUMNS))
            setattr(spec, name, value)
        refused = self.catalogue._core.add_module(self.table, spec, terminals, self._name(code))
        _raise_refused(refused, code)
        return Module(self, spec)

    def add_terminals(self, code: Union[str, Mapping[str, Sequence[TerminalRow]]],
                      rows: Sequence[TerminalRow] = ()) -> List[TerminalRefusal]:
        """Adds terminal rows in one batch: `rows` to module `code`, or, given
        a mapping of code -> rows, each module's rows.  A row is a Terminal
        or a plain (sequence, block, attributes) tuple, the cheaper for many
        rows.  Returns the rows the engine refused, each with its reason
        (the others stay)."""
        modules = [(code, rows)] if isinstance(code, str) else code.items()
        return [TerminalRefusal(*r) for r in self.catalogue._core.add_terminals(self.table, modules)]

    def _name(self, code: str) -> str:
        return f"{code} of {self.manufacturer} / {self.series} / {self.name}"


def _raise_refused(refused, code: str) -> None:
    if refused:
        seq, reason, kind, column = refused[0]
        error = Error(f"{len(refused)} terminal row(s) of {code} refused; SEQUENCE {seq}: {reason}")
        error.kind, error.column = kind, column or None
        raise error


class Modules(_Mapping):
    """A type's modules: code -> Module.  Keys are listed once per
    iteration; each module is read when it is looked up.
    ``del modules[code]`` removes the module with its terminal rows."""

    def __init__(self, type_: Type):
        self._type = type_

    def __getitem__(self, code: str) -> "Module":
        spec = self._type.catalogue._core.read_module(self._type.table, code)
        if spec is None:
            raise KeyError(code)
        return Module(self._type, spec)

    def __iter__(self) -> Iterator[str]:
        return iter(self._type.catalogue._core.codes(self._type.table))

    def __len__(self) -> int:
        return len(self._type)

    def __contains__(self, code: object) -> bool:
        return isinstance(code, str) and self._type.catalogue._core.read_module(self._type.table, code) is not None

    def __delitem__(self, code: str) -> None:
        self._type.catalogue._core.remove_module(self._type.table, code, self._type._name(code))


class Module:
    """One module: its specification fields as attributes (code, points,
    type, description, ..., category; see SPEC_COLUMNS) and its terminal rows.

    Changes stay in the object until save(), which writes them only when the
    stored module is still as it was read (else Stale, nothing written).
    """

    __slots__ = ("_type", "_base", "_spec", "_terminals", "_base_terminals")

    def __init__(self, type_: Type, spec: Spec):
        self._type = type_
        self._base = spec
        self._spec = spec.copy()
        self._terminals: Optional[List[Terminal]] = None
        self._base_terminals: Optional[List[Terminal]] = None

    def __repr__(self) -> str:
        return f"<kivplc.Module {self._spec.code} of {self._type.name}>"

    @property
    def spec(self) -> Spec:
        """The specification row as it stands in this object."""
        return self._spec

    @property
    def terminals(self) -> List[Terminal]:
        """The module's terminal rows in SEQUENCE order, a list read on first
        use; change, add or remove rows in it, then save()."""
        if self._terminals is None:
            rows = self._type.catalogue._core.terminals(self._type.table, self._base.code)
            self._base_terminals = [r.copy() for r in rows]
            self._terminals = rows
        return self._terminals

    @terminals.setter
    def terminals(self, rows: Sequence[Terminal]) -> None:
        self.terminals  # noqa: B018 - reads the stored rows that save() compares with
        self._terminals = list(rows)

    def save(self) -> None:
        """Writes the changed fields (a new code re-keys the module and its
        terminals) and, when they were read, the terminal rows.  Stale when
        someone else changed the module since it was read."""
        core, table = self._type.catalogue._core, self._type.table
        code = self._base.code
        if not (self._spec == self._base):
            core.save_module(table, code, self._base, self._spec)
            code = self._spec.code
            self._base = self._spec.copy()
        if self._terminals is not None and self._terminals != self._base_terminals:
            core.save_terminals(table, code, self._base_terminals, self._terminals)
            self._base_terminals = [r.copy() for r in self._terminals]

    def reload(self) -> None:
        """Reads the module again, dropping unsaved changes."""
        spec = self._type.catalogue._core.read_module(self._type.table, self._base.code)
        if spec is None:
            raise NotFound(f"no module {self._base.code}")
        self.__init__(self._type, spec)


_FIELD_NAMES = frozenset(c.lower() for c, _ in SPEC_COLUMNS)
for _column, _width in SPEC_COLUMNS:
    setattr(Module, _column.lower(), _field(_column, _width))
del _column, _width
