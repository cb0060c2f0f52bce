from collections.abc import Mapping
from typing import Iterator, List, Mapping, NamedTuple, Optional, Sequence, Tuple, Union

SPEC_COLUMNS: Tuple[Tuple[str, int], ...]

class Error(Exception):
    kind: str
    column: Optional[str]
class NotFound(Error, LookupError): ...
class Duplicate(Error): ...
class TooLong(Error, ValueError): ...
class ReadOnly(Error): ...
class Busy(Error): ...
class ConnectionLost(Error): ...
class Invalid(Error, ValueError): ...
class Stale(Error): ...

class Terminal:
    sequence: int
    block: str
    attributes: str
    def __init__(self, sequence: int, block: str = ..., attributes: str = ...) -> None: ...
    def copy(self) -> Terminal: ...

# A terminal row as add_terminals and add_module take it.
TerminalRow = Union[Terminal, Tuple[int, str, str], Tuple[int, str]]

class Spec:
    code: str
    points: str
    type: str
    description: str
    rating: str
    address_base: str
    address_format: str
    box_right: str
    box_left: str
    box_top: str
    box_bottom: str
    box_split_top: str
    box_split_bottom: str
    metric_box_right: str
    metric_box_left: str
    metric_box_top: str
    metric_box_bottom: str
    metric_box_split_top: str
    metric_box_split_bottom: str
    optional_block: str
    lisp: str
    category: str
    def __init__(self) -> None: ...
    def copy(self) -> Spec: ...

class TypeEntry(NamedTuple):
    name: str
    table: str
    modules: int
    tables_missing: bool

class Series(NamedTuple):
    name: str
    types: List[TypeEntry]

class Manufacturer(NamedTuple):
    name: str
    series: List[Series]

class Found(NamedTuple):
    manufacturer: str
    series: str
    type: str
    table: str
    code: str
    description: str
    exact_code: bool

class TerminalRefusal(NamedTuple):
    sequence: int
    reason: str
    kind: str
    column: str

def open(where: str, create: bool = ...) -> Catalogue: ...
def create(where: str) -> Catalogue: ...

class Catalogue:
    def __init__(self, where: str) -> None: ...
    def __enter__(self) -> Catalogue: ...
    def __exit__(self, *exc: object) -> None: ...
    def close(self) -> None: ...
    @property
    def closed(self) -> bool: ...
    def tree(self, count_modules: bool = ...) -> List[Manufacturer]: ...
    @property
    def manufacturers(self) -> List[str]: ...
    def series(self, manufacturer: str) -> List[str]: ...
    def types(self, manufacturer: str, series: str) -> List[str]: ...
    def listed(self, manufacturer: str, series: str = ..., type: str = ...) -> bool: ...
    def type(self, manufacturer: str, series: str, type: str) -> Type: ...
    def all_types(self) -> Iterator[Type]: ...
    def add_type(self, manufacturer: str, series: str, type: str) -> Type: ...
    def rename(self, manufacturer: str, series: str, type: str, new_name: str) -> None: ...
    def remove(self, manufacturer: str, series: str = ..., type: str = ...) -> None: ...
    def find(self, text: str, limit: int = ...) -> List[Found]: ...
    def export(self, path: str) -> None: ...
    def import_(self, path: str, *, replace: bool = ..., skip_existing: bool = ..., dry_run: bool = ...,
                keep_going: bool = ...) -> dict: ...

class Type:
    catalogue: Catalogue
    manufacturer: str
    series: str
    name: str
    table: str
    @property
    def modules(self) -> Modules: ...
    @property
    def has_category(self) -> bool: ...
    def __iter__(self) -> Iterator[Module]: ...
    def __len__(self) -> int: ...
    def add_module(self, code: str, terminals: Sequence[TerminalRow] = ..., **fields: str) -> Module: ...
    def add_terminals(self, code: Union[str, Mapping[str, Sequence[TerminalRow]]],
                      rows: Sequence[TerminalRow] = ...) -> List[TerminalRefusal]: ...

class Modules(Mapping[str, Module]):
    def __getitem__(self, code: str) -> Module: ...
    def __iter__(self) -> Iterator[str]: ...
    def __len__(self) -> int: ...
    def __delitem__(self, code: str) -> None: ...

class Module:
    code: str
    points: str
    type: str
    description: str
    rating: str
    address_base: str
    address_format: str
    box_right: str
    box_left: str
    box_top: str
    box_bottom: str
    box_split_top: str
    box_split_bottom: str
    metric_box_right: str
    metric_box_left: str
    metric_box_top: str
    metric_box_bottom: str
    metric_box_split_top: str
    metric_box_split_bottom: str
    optional_block: str
    lisp: str
    category: str
    terminals: List[Terminal]
    @property
    def spec(self) -> Spec: ...
    def save(self) -> None: ...
    def reload(self) -> None: ...
