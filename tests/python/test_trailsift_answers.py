"""How the index's answers are counted, and what a failed bulk request leaves behind."""

import json
import socket

import pytest

from tslogs import app_msg, write_log


@pytest.fixture
def three_records(tmp_path):
    path = tmp_path / "three.log"
    offsets, size = write_log(path, [app_msg(log_id=i) for i in range(3)])
    return path, offsets, size


@pytest.mark.parametrize("plan, total, exception", [
    ({}, 3, False),
    ({"errors": True}, 0, False),                         # nothing counts, not even successes
    ({"item_status": {"1": 409}}, 2, False),              # skipped, not an error
    ({"item_status": {"1": 404}}, 1, True),               # stops counting the batch
    ({"item_status": {"0": 500, "2": 200}}, 3, False),    # any other status counts
], ids=["accepted", "errors true", "409", "404", "other statuses"])
def test_answer_accounting(trailsift, sink, three_records, plan, total, exception):
    path, _, size = three_records
    sink.plan(plan)
    worker = trailsift.IndexWorker(str(path), 0, "idx", "app_log", 100)
    ret = worker.run()
    assert (ret.total, ret.exception, ret.read_pos) == (total, exception, size)
    # Counts accumulate over the runs of one worker.
    assert worker.run().total == total + 3


@pytest.mark.parametrize("plan, reason", [
    ({"http_status": 500}, "answered HTTP 500"),
    ({"http_status": 302}, "answered HTTP 302"),
    ({"close": True}, "failed: "),
    ({"raw": "<html>busy</html>"}, "answer is not JSON"),
], ids=["500", "302", "connection closed", "unparsable"])
def test_failed_bulk_request_is_sent_again_by_the_next_run(trailsift, sink, tmp_path, capfd,
                                                           plan, reason):
    path = tmp_path / "1500.log"
    offsets, size = write_log(path, [app_msg(log_id=i, report_timestamp=i << 32)
                                     for i in range(1500)])
    # The first batch goes through, the second fails. The HTTP library sends a request again,
    # once, when a reused connection closes under it: a dropped connection is planned twice.
    sink.plan({}, plan, plan)
    worker = trailsift.IndexWorker(str(path), 0, "idx", "app_log", 100000)
    ret = worker.run()
    assert (ret.total, ret.read_pos) == (1000, offsets[1000])
    assert (ret.min_ts, ret.max_ts) == (0, 999 << 32)
    err = capfd.readouterr().err
    assert err.startswith("Bulk request to 127.0.0.1:%d/_bulk" % sink.port) and reason in err
    assert sink.stats()["documents"] == 1000

    # The failed batch did not use up the limit: the next run goes on from where it began.
    sink.reset()
    ret = trailsift.IndexWorker(str(path), ret.read_pos, "idx", "app_log", 100000).run()
    assert [d["log_id"] for d in sink.docs()] == list(range(1000, 1500))
    assert (ret.total, ret.read_pos) == (500, size)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def test_bulk_endpoint_down(isolated, tmp_path):
    path = tmp_path / "down.log"
    offsets, _ = write_log(path, [app_msg(log_id=i, report_timestamp=9 << 32) for i in range(3)])
    code = (
        "import json, trailsift\n"
        "w = trailsift.IndexWorker(%r, %d, 'idx', 'app_log', 100)\n"
        "for _ in range(2):\n"
        "    r = w.run()\n"
        "    print(json.dumps([r.total, r.read_pos, r.exception, r.min_ts, r.max_ts]))\n"
        % (str(path), offsets[1]))
    port = free_port()
    proc = isolated(code, port)
    assert proc.returncode == 0, proc.stderr
    # Nothing counted, the result stays where the failed batch began, every run alike.
    assert [json.loads(line) for line in proc.stdout.splitlines()] == [[0, offsets[1], False,
                                                                        0, 0]] * 2
    assert proc.stderr.count("Bulk request to 127.0.0.1:%d/_bulk failed: " % port) == 2
