"""The indexing loop: request bodies, ids, batches, limits, record sizes and bad records."""

import pytest

from tslogs import (app_msg, conn_msg, crc32, event_doc_id, event_msg, log_doc_id, number_text,
                    padded_app_msg, record, write_log)


def test_request_body_byte_for_byte(trailsift, sink, tmp_path):
    path = tmp_path / "app.log"
    m1 = app_msg(report_timestamp=(1700000000 << 32) | 123456, service_engine="se-1", vcpu_id=3,
                 log_id=77, adf=True, virtualservice='vs "web"', method="GET", uri_path="/a\tb",
                 response_code=200, grpc_status=-4)
    m2 = app_msg(report_timestamp=1700000001 << 32, service_engine="se-2", vcpu_id=17,
                 log_id=(1 << 26) + 5, udf=True, virtualservice="vs2")
    (p1, p2), size = write_log(path, [m1, m2])
    ret = trailsift.IndexWorker(str(path), 0, "kyv-app-1", "app_log", 100).run()

    name, crc = str(path), crc32(str(path))
    id1, id2 = log_doc_id(m1.applogs[0]), log_doc_id(m2.applogs[0])
    expected = (
        '{"index": {"_index":"kyv-app-1", "_type": "app_log", "_id": "%d"}}\n' % id1
        + '{"report_timestamp":%d,"service_engine":"se-1","vcpu_id":3,"log_id":77,"adf":true,'
          '"virtualservice":"vs \\"web\\"","method":"GET","uri_path":"/a\\tb",'
          '"response_code":200,"grpc_status":-4,"id":%d,"file_pos":0,"record_size":%d,'
          '"everything":"3 77 0 200 0 0 0 0 0 0 0 0 0 -4 ","file_name":"%s",'
          '"file_name_crc32":"%d","helper1":"Sse-1S3S1S0"}\n'
        % (m1.applogs[0].report_timestamp, id1, m1.ByteSize(), name, crc)
        + '{"index": {"_index":"kyv-app-1", "_type": "app_log", "_id": "%d"}}\n' % id2
        + '{"report_timestamp":%d,"service_engine":"se-2","vcpu_id":17,"log_id":67108869,'
          '"udf":true,"virtualservice":"vs2","id":%d,"file_pos":%d,"record_size":%d,'
          '"everything":"17 67108869 0 0 0 0 0 0 0 0 0 0 0 0 ","file_name":"%s",'
          '"file_name_crc32":"%d","helper1":"Sse-2S17S0S1"}\n'
        % (m2.applogs[0].report_timestamp, id2, p2, m2.ByteSize(), name, crc))
    assert sink.bodies() == [expected.encode()]
    assert (ret.total, ret.read_pos, ret.exception) == (2, size, False)
    assert (ret.min_ts, ret.max_ts) == (m1.applogs[0].report_timestamp,
                                        m2.applogs[0].report_timestamp)
    assert number_text(m1.applogs[0]) == "3 77 0 200 0 0 0 0 0 0 0 0 0 -4 "


def test_documents_stay_valid_json_whatever_the_text(trailsift, sink, tmp_path):
    # A string field holding bytes that are not UTF-8 (written behind the schema's back), and a
    # file name with a quote and a backslash.
    msg = app_msg(service_engine="SE__", virtualservice="ctl\x01\x1f \u00e9\U0001F600",
                  vcpu_id=2)
    raw = msg.SerializeToString().replace(b"SE__", b"\xff\xc0\xafz")
    path = tmp_path / 'we"ird\\name.log'
    path.write_bytes(record(raw))
    assert trailsift.IndexWorker(str(path), 0, "idx", "app_log", 10).run().total == 1
    ((action, doc),) = sink.batches()[0]  # the sink parses strictly: UTF-8, JSON
    assert doc["service_engine"] == "\ufffd\ufffd\ufffdz"
    assert doc["virtualservice"] == "ctl\x01\x1f \u00e9\U0001F600"
    assert doc["file_name"] == str(path)
    assert doc["helper1"] == "S\ufffd\ufffd\ufffdzS2S0S0"


def test_document_ids_of_all_three_log_kinds(trailsift, sink, tmp_path):
    ts = (1712345678 << 32) | 0xABCDEF
    apps = [app_msg(report_timestamp=ts, service_engine="se-a", vcpu_id=v, log_id=l, adf=a,
                    udf=u)
            for v, l, a, u in [(0, 0, False, False), (15, 0x3FFFFFF, True, True),
                               (18, 0x7FFFFFF, False, True), (7, 123, True, False)]]
    conns = [conn_msg(report_timestamp=ts + 1, service_engine=se, vcpu_id=9, log_id=4)
             for se in ["", "se-b", "\u00e9"]]
    events = [event_msg(report_timestamp=ts, event_id=e, obj_uuid="cluster-1", **extra)
              for e, extra in [("VINFRA_DISC_COMPLETE", {}),
                               ("CONFIG_CREATE", {"tenant": "admin", "related_uuids": ["a"]})]]
    for kind, msgs, logs, compute in [
            ("app_log", apps, [m.applogs[0] for m in apps], log_doc_id),
            ("conn_log", conns, [m.connlogs[0] for m in conns], log_doc_id),
            ("event_log", events, [m.eventlogs[0] for m in events], event_doc_id)]:
        sink.reset()
        path = tmp_path / (kind + ".log")
        write_log(path, msgs)
        assert trailsift.IndexWorker(str(path), 0, "idx", kind, 100).run().total == len(msgs)
        (batch,) = sink.batches()
        expected = [compute(log) for log in logs]
        assert [int(action["_id"]) for action, _ in batch] == expected, kind
        assert [doc["id"] for _, doc in batch] == expected, kind
        assert [action["_type"] for action, _ in batch] == [kind] * len(msgs)


def test_event_hash_helper_matches_the_independent_computation(trailsift):
    from tslogs import std_hash
    for data in [b"", b"a", b"abcdefg", b"abcdefgh", b"\x00\xff" * 17, bytes(range(256))]:
        assert trailsift._testing.std_hash(data) == std_hash(data)


def test_batches_hold_at_most_1000_documents(trailsift, sink, tmp_path):
    path = tmp_path / "many.log"
    _, size = write_log(path, [app_msg(report_timestamp=i << 32, log_id=i)
                               for i in range(2500)])
    ret = trailsift.IndexWorker(str(path), 0, "idx", "app_log", 1000000).run()
    batches = sink.batches()
    assert [len(b) for b in batches] == [1000, 1000, 500]
    assert [doc["log_id"] for b in batches for _, doc in b] == list(range(2500))
    assert (ret.total, ret.read_pos, ret.min_ts, ret.max_ts) == (2500, size, 0, 2499 << 32)


@pytest.mark.parametrize("limit, runs", [
    (0, [[0], [0]]),
    (1, [[0], [0]]),
    (2, [[0, 1], [0]]),
    (10, [[0, 1, 2], [0, 1, 2]]),
])
def test_limit_across_runs_of_one_worker(trailsift, sink, tmp_path, limit, runs):
    path = tmp_path / "three.log"
    offsets, size = write_log(path, [app_msg(log_id=i) for i in range(3)])
    worker = trailsift.IndexWorker(str(path), 0, "idx", "app_log", limit)
    total = 0
    for expected in runs:
        sink.reset()
        ret = worker.run()
        total += len(expected)
        assert [doc["log_id"] for doc in sink.docs()] == expected
        assert ret.total == total
        after = expected[-1] + 1
        assert ret.read_pos == (offsets[after] if after < 3 else size)


def test_truncated_last_record_is_indexed_once_complete(trailsift, sink, tmp_path, capfd):
    path = tmp_path / "growing.log"
    msgs = [app_msg(log_id=i, service_engine="se") for i in range(3)]
    data = b"".join(record(m) for m in msgs)
    cut = len(data) - 5
    path.write_bytes(data[:cut])
    last = len(data) - len(record(msgs[2]))

    ret = trailsift.IndexWorker(str(path), 0, "idx", "app_log", 100).run()
    assert capfd.readouterr().err == (
        "Error reading a log at location: %d from logfile:%s. Tried reading %d bytes "
        "But got %d bytes\n" % (last, path, msgs[2].ByteSize(), msgs[2].ByteSize() - 5))
    assert [d["log_id"] for d in sink.docs()] == [0, 1]
    assert (ret.total, ret.read_pos) == (2, last)

    sink.reset()
    with open(path, "ab") as f:
        f.write(data[cut:])
    ret = trailsift.IndexWorker(str(path), ret.read_pos, "idx", "app_log", 100).run()
    assert [d["log_id"] for d in sink.docs()] == [2]
    assert (ret.total, ret.read_pos) == (1, len(data))
    assert capfd.readouterr().err == ""


def test_records_above_4194303_bytes_are_skipped(trailsift, sink, tmp_path, capfd):
    path = tmp_path / "big.log"
    msgs = [app_msg(log_id=1), padded_app_msg(4194303, log_id=2), padded_app_msg(4194304),
            app_msg(log_id=3)]
    offsets, size = write_log(path, msgs)
    ret = trailsift.IndexWorker(str(path), 0, "idx", "app_log", 100).run()
    batches = sink.batches()
    # The skipped record ends the first batch; the next batch goes on after it.
    assert [[d["log_id"] for _, d in b] for b in batches] == [[1, 2], [3]]
    assert batches[0][1][1]["record_size"] == 4194303
    assert batches[0][1][1]["file_pos"] == offsets[1]
    assert (ret.total, ret.read_pos) == (3, size)
    assert capfd.readouterr().err == ""


def test_oversized_first_record_ends_the_run_past_it(trailsift, sink, tmp_path):
    path = tmp_path / "big.log"
    offsets, _ = write_log(path, [padded_app_msg(4194304), app_msg(log_id=3)])
    ret = trailsift.IndexWorker(str(path), 0, "idx", "app_log", 100).run()
    assert sink.stats()["requests"] == 0
    assert (ret.total, ret.read_pos) == (0, offsets[1])


@pytest.mark.parametrize("bad, stream, line", [
    (b"", "err", "Bad log message in file{}\n"),
    (conn_msg(log_id=9).SerializeToString(), "err", "Bad log message in file{}\n"),
    (b"\xff\xff\xff", "out", "Find invalid UTF8 data at {}. So ignore the task to index the file\n"),
], ids=["length 0", "other log kind", "unparsable"])
def test_record_without_a_usable_log_ends_its_batch(trailsift, sink, tmp_path, capfd, bad,
                                                      stream, line):
    path = tmp_path / "bad.log"
    path.write_bytes(record(app_msg(log_id=1)) + record(bad) + record(app_msg(log_id=2)))
    ret = trailsift.IndexWorker(str(path), 0, "idx", "app_log", 100).run()
    assert [[d["log_id"] for _, d in b] for b in sink.batches()] == [[1], [2]]
    assert ret.total == 2
    captured = capfd.readouterr()
    assert getattr(captured, stream) == line.format(path)


@pytest.mark.parametrize("bad_alloc, err, out", [
    (False, "stopped as exception: injected render failure\n",
     "exception happened for file {}\n"),
    (True, "stopped as bad_alloc\n", ""),
])
def test_record_whose_rendering_raises_is_undone(trailsift, sink, tmp_path, capfd, bad_alloc,
                                                 err, out):
    path = tmp_path / "raise.log"
    offsets, _ = write_log(path, [app_msg(log_id=i, report_timestamp=(10 + i) << 32)
                                  for i in range(3)])
    trailsift._testing.fail_render_at(offsets[1], bad_alloc)
    try:
        ret = trailsift.IndexWorker(str(path), 0, "idx", "app_log", 100).run()
    finally:
        trailsift._testing.clear_render_fault()
    # The next batch meets the same record first, ends empty, and the run returns.
    assert [d["log_id"] for d in sink.docs()] == [0]
    assert (ret.total, ret.read_pos) == (1, offsets[1])
    assert (ret.min_ts, ret.max_ts) == (10 << 32, 10 << 32)
    captured = capfd.readouterr()
    assert captured.err == err * 2
    assert captured.out == out.format(path) * 2


@pytest.mark.parametrize("msg_tenant, event_tenant, expected", [
    ("t1", None, "t1"),
    ("t1", "own", "own"),
    ("", None, None),
    (None, None, None),
])
def test_events_inherit_the_message_tenant(trailsift, sink, tmp_path, msg_tenant, event_tenant,
                                           expected):
    fields = {} if event_tenant is None else {"tenant": event_tenant,
                                               "tenant_name": event_tenant + "-name"}
    msg = event_msg(msg_tenant=msg_tenant,
                    msg_tenant_name=msg_tenant and msg_tenant + "-name",
                    event_id="VM_ADDED", report_timestamp=1 << 32, **fields)
    path = tmp_path / "ev.log"
    write_log(path, [msg])
    trailsift.IndexWorker(str(path), 0, "idx", "event_log", 10).run()
    ((action, doc),) = sink.batches()[0]
    assert doc.get("tenant") == expected
    assert doc.get("tenant_name") == (None if expected is None else expected + "-name")
    event = msg.eventlogs[0]
    if expected is not None:
        event.tenant, event.tenant_name = expected, expected + "-name"
    assert int(action["_id"]) == event_doc_id(event)


@pytest.mark.parametrize("drift, seconds", [
    (2500000, 998),
    (-1500000, 1001),
    (999999, 1000),
])
def test_se_clock_drift_moves_the_event_time(trailsift, sink, tmp_path, drift, seconds):
    msg = event_msg(event_id="VINFRA_DISC_COMPLETE", report_timestamp=(1000 << 32) | 77)
    msg.eventlogs[0].event_details.se_discontinuous_time_change_event_details.drift_time = drift
    path = tmp_path / "drift.log"
    write_log(path, [msg])
    ret = trailsift.IndexWorker(str(path), 0, "idx", "event_log", 10).run()
    ((action, doc),) = sink.batches()[0]
    ts = (seconds << 32) | 77
    assert doc["report_timestamp"] == ts
    assert (ret.min_ts, ret.max_ts) == (ts, ts)
    event = msg.eventlogs[0]
    event.report_timestamp = ts
    assert int(action["_id"]) == event_doc_id(event)


@pytest.mark.parametrize("event_id, before, pages, flags", [
    ("VINFRA_DISC_DC", [], ["EVENT_PAGE_CNTLR", "EVENT_PAGE_ALL"],
     {"internal": "EVENT_INTERNAL"}),
    ("SE_GROUP_HOST_DEL", ["EVENT_PAGE_ALL", "EVENT_PAGE_CNTLR"],
     ["EVENT_PAGE_ALL", "EVENT_PAGE_CNTLR", "EVENT_PAGE_SE"], {}),
    ("METRIC_THRESHOLD_UP_VIOLATION", [],
     ["EVENT_PAGE_ALL", "EVENT_PAGE_VS", "EVENT_PAGE_POOL", "EVENT_PAGE_SE"], {}),
    ("POOL_SERVER_DOWN_HA_COMPROMISED", [],
     ["EVENT_PAGE_POOL", "EVENT_PAGE_VS", "EVENT_PAGE_ALL"], {}),
    ("CONFIG_DELETE", [], ["EVENT_PAGE_ALL", "EVENT_PAGE_AUDIT"], {}),
    ("AUDIT_COMPLIANCE_EVENT", [], ["EVENT_PAGE_AUDIT", "EVENT_PAGE_ALL"],
     {"is_security_event": True}),
    ("VM_REMOVED", [], ["EVENT_PAGE_ALL"],
     {"internal": "EVENT_INTERNAL", "ignore_event_details_display": True}),
    ("EVENT_ID_UNKNOWN", [], ["EVENT_PAGE_ALL"], {}),
])
def test_event_pages_and_flags_come_from_the_event_id(trailsift, sink, tmp_path, event_id,
                                                      before, pages, flags):
    msg = event_msg(event_id=event_id, report_timestamp=3 << 32, obj_uuid="x-1",
                    event_pages=before, is_security_event=False)
    path = tmp_path / "ev.log"
    write_log(path, [msg])
    trailsift.IndexWorker(str(path), 0, "idx", "event_log", 10).run()
    ((_, doc),) = sink.batches()[0]
    assert doc["event_pages"] == pages
    assert doc["internal"] == flags.get("internal", "EVENT_EXTERNAL")
    assert doc["is_security_event"] == flags.get("is_security_event", False)
    assert doc.get("ignore_event_details_display") == flags.get("ignore_event_details_display")
    # Events carry the worker's start time instead of the SE helper field.
    assert "helper1" not in doc and isinstance(doc["stime"], float)
    assert doc["everything"] == ""
