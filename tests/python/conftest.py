import itertools
import os

import pytest

import kivplc

FIXTURES = os.environ.get("KIV_ACCESS_FIXTURES", "/work/shared/fixtures/access")
_schemas = itertools.count(1)


def _server_uri():
    path = os.environ.get("KIV_PG_TEST_URI_FILE")
    if not path:
        pytest.skip("no PostgreSQL test server (ctest starts one and sets KIV_PG_TEST_URI_FILE)")
    with open(path) as f:
        uri = f.readline().strip()
    return f"{uri}{'&' if '?' in uri else '?'}schema=kivpy_{os.getpid()}_{next(_schemas)}"


@pytest.fixture(params=["file", "server"])
def where(request, tmp_path):
    """Where a new, empty catalogue goes, on each engine."""
    return str(tmp_path / "plant ä.db") if request.param == "file" else _server_uri()


@pytest.fixture
def cat(where):
    with kivplc.create(where) as c:
        yield c
