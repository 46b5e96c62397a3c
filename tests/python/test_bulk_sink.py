"""The bulk sink checks what it receives, so that the indexer tests can rely on its verdicts."""

import json
import urllib.request

import pytest

GOOD = b'{"index": {"_index":"i", "_type": "t", "_id": "1"}}\n{"a":1}\n'


def post(port, body):
    req = urllib.request.Request("http://127.0.0.1:%d/_bulk" % port, data=body, method="POST")
    with urllib.request.urlopen(req, timeout=30) as answer:
        return json.loads(answer.read())


@pytest.mark.parametrize("body, statuses", [
    (GOOD + GOOD, [201, 201]),
    (GOOD + b'{"index": {"_id": "2"}}\n{"a":"\xff"}\n', [201, 400]),       # not UTF-8
    (GOOD + b'{"index": {"_id": "2"}}\n{"a":NaN}\n', [201, 400]),          # not JSON
    (b'{"index": {"_id": "2"}}\n[1]\n', [400]),                            # not an object
    (b'{"delete": {"_id": "2"}}\n{}\n', [400]),                            # not an index action
    (b'{"index": {"_id": "2"}}\n', [400]),                                 # no document
    (GOOD[:-1], [400]),                                                    # no final line feed
])
def test_sink_checks_every_line(sink, body, statuses):
    answer = post(sink.port, body)
    assert [item["index"]["status"] for item in answer["items"]] == statuses
    assert answer["errors"] == (400 in statuses)
    assert sink.stats()["documents"] == len(statuses)
