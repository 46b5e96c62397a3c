"""Fixtures of the Python suite: the built modules, a local bulk sink, log files.

The built `trailsift` module and the generated schema classes are taken from
$KYV_BUILD_DIR/python (default: <repo>/build/python). `trailsift` reads its overrides (bulk port,
side files) from the environment when it is imported, so tests get it through the `trailsift`
fixture, never by a top-level import.
"""

import base64
import json
import os
import subprocess
import sys
import urllib.request
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
BUILD_DIR = Path(os.environ.get("KYV_BUILD_DIR", REPO / "build"))
sys.path.insert(0, str(BUILD_DIR / "python"))

PYTHON = "/usr/bin/python3"
SINK_SCRIPT = REPO / "tools" / "bulk_sink" / "bulk_sink.py"
# The user agent patterns are read once, when trailsift is imported: the suite uses the real ones.
UAP_REGEXES = REPO / "third_party" / "uap-core" / "regexes.yaml"
# A verbose cipher listing as the controller ships it (one blank between fields).
CIPHER_LISTING = """\
TLS_AES_256_GCM_SHA384 TLSv1.3 Kx=any Au=any Enc=AESGCM(256) Mac=AEAD
ECDHE-RSA-AES256-GCM-SHA384 TLSv1.2 Kx=ECDH Au=RSA Enc=AESGCM(256) Mac=AEAD
DHE-RSA-AES128-GCM-SHA256 TLSv1.2 Kx=DH Au=RSA Enc=AESGCM(128) Mac=AEAD
ECDHE-RSA-CHACHA20-POLY1305 TLSv1.2 Kx=ECDH Au=RSA Enc=CHACHA20/POLY1305(256) Mac=AEAD
AES128-SHA SSLv3 Kx=RSA Au=RSA Enc=AES(128) Mac=SHA1
"""


class BulkSink:
    """A bulk_sink.py process on a free loopback port, and its control endpoints."""

    def __init__(self):
        self.proc = subprocess.Popen([PYTHON, str(SINK_SCRIPT), "--port", "0"],
                                     stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if not line.strip().isdigit():
            self.proc.kill()
            raise RuntimeError("bulk sink did not start: %r" % line)
        self.port = int(line)

    def _call(self, method, path, payload=None):
        data = None if payload is None else json.dumps(payload).encode()
        req = urllib.request.Request("http://127.0.0.1:%d%s" % (self.port, path), data=data,
                                     method=method)
        with urllib.request.urlopen(req, timeout=30) as answer:
            return json.loads(answer.read())

    def reset(self):
        self._call("POST", "/_sink/reset", {})

    def plan(self, *plans):
        """Queues one plan per coming /_bulk request (see bulk_sink.py)."""
        self._call("POST", "/_sink/plan", list(plans))

    def stats(self):
        return self._call("GET", "/_sink/stats")

    def bodies(self):
        """The stored request bodies, in arrival order."""
        return [base64.b64decode(r["body_b64"])
                for r in self._call("GET", "/_sink/requests")["requests"]]

    def batches(self):
        """Per stored request, its (action, document) pairs as parsed JSON."""
        out = []
        for body in self.bodies():
            lines = body.decode("utf-8").split("\n")
            assert lines.pop() == ""
            out.append([(json.loads(lines[i])["index"], json.loads(lines[i + 1]))
                        for i in range(0, len(lines), 2)])
        return out

    def docs(self):
        return [doc for batch in self.batches() for _, doc in batch]

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


@pytest.fixture(scope="session")
def sink_process():
    sink = BulkSink()
    yield sink
    sink.stop()


@pytest.fixture
def sink(sink_process):
    """The session's bulk sink, emptied for each test."""
    sink_process.reset()
    yield sink_process
    sink_process.reset()


@pytest.fixture(scope="session")
def side_dir(tmp_path_factory):
    """Directory of the side files that `trailsift` reads. The cipher listing (read once, on
    first use) is there from the start, and so is an empty IP address group file (a missing one
    is reported at every worker construction); the tenant map and the country database are
    absent unless a test writes them."""
    side = tmp_path_factory.mktemp("side")
    (side / "openssl_ciphers").write_text(CIPHER_LISTING)
    (side / "ip_address_groups_proto").write_bytes(b"")
    return side


def trailsift_env(port, side):
    """The environment overrides of `trailsift`: bulk port and side files under `side`."""
    return {
        "KYV_TRAILSIFT_BULK_PORT": str(port),
        "KYV_TRAILSIFT_REGEXES": str(UAP_REGEXES),
        "KYV_TRAILSIFT_GEOIP_DB": str(side / "GeoIP.dat"),
        "KYV_TRAILSIFT_TENANT_MAP": str(side / "vs_tenant_map"),
        "KYV_TRAILSIFT_CIPHERS": str(side / "openssl_ciphers"),
        "KYV_TRAILSIFT_IP_GROUPS": str(side / "ip_address_groups_proto"),
    }


@pytest.fixture(scope="session")
def trailsift(sink_process, side_dir):
    """The `trailsift` module, imported with the session's sink and side directory."""
    if "trailsift" in sys.modules:
        raise RuntimeError("trailsift was imported before its environment was set")
    os.environ.update(trailsift_env(sink_process.port, side_dir))
    import trailsift as module
    return module


@pytest.fixture
def ip_groups(trailsift, side_dir):
    """Writes IP address groups (IpAddrGroup messages, or raw record bytes) into the session's
    group file and reloads the table; the file is emptied and the table reloaded afterwards."""
    from tslogs import record
    path = side_dir / "ip_address_groups_proto"

    def load(groups, reload=True):
        path.write_bytes(b"".join(record(g) for g in groups))
        if reload:
            trailsift.IndexWorker.create_ipg()

    yield load
    path.write_bytes(b"")
    trailsift.IndexWorker.create_ipg()


@pytest.fixture
def tenant_map(side_dir):
    """Writes the tenant map: {virtual service: tenant}. Entries read once stay in the module
    for the session, so tests use virtual service names of their own."""

    def write(mapping):
        (side_dir / "vs_tenant_map").write_text(
            "".join("%s,%s\n" % item for item in mapping.items()))

    return write


@pytest.fixture
def isolated(side_dir):
    """Runs Python code in a fresh interpreter with `trailsift`'s overrides and a given bulk
    port (and further environment overrides); returns the finished process (text stdout and
    stderr)."""

    def run(code, port, timeout=60, env_overrides=None):
        env = dict(os.environ)
        env.update(trailsift_env(port, side_dir))
        env.update(env_overrides or {})
        env["PYTHONPATH"] = os.pathsep.join([str(BUILD_DIR / "python"),
                                             str(Path(__file__).parent)])
        return subprocess.run([PYTHON, "-c", code], env=env, capture_output=True, text=True,
                              timeout=timeout)

    return run
