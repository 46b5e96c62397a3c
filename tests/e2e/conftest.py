import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import Processes, RefusingPort  # noqa: E402


@pytest.fixture
def procs(tmp_path):
    p = Processes(tmp_path)
    yield p
    p.stop_all()


@pytest.fixture
def refusing_port():
    port = RefusingPort()
    yield port.port
    port.close()
