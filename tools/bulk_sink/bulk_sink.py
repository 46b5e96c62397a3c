#!/usr/bin/python3
"""A local stand-in for the search index's bulk endpoint.

Answers ``POST /_bulk`` the way the index does: the body is newline-delimited JSON, an action
line ({"index": {"_index": ..., "_id": ...}}) followed by a document line, per item; the answer
is {"took": ms, "errors": bool, "items": [{"index": {..., "status": 201}}, ...]}. Every line is
checked: an action or document that is not strict JSON (valid UTF-8, no NaN, an object) gets item
status 400 and makes "errors" true. Received requests are counted and, unless --discard is
given, kept in memory; --store DIR also writes each body to DIR/request-NNNNNN.ndjson.

Control endpoints (for tests and the demo):

  GET  /_sink/stats      {"requests": n, "documents": n, "bytes": n, "plans_left": n}
  GET  /_sink/requests   {"requests": [{"documents": n, "body_b64": "..."}, ...]}
  POST /_sink/reset      forgets requests, counters and plans
  POST /_sink/plan       a JSON list of plans, queued; each applies to one later /_bulk request,
                         in order. A plan is an object with any of:
                           {"http_status": 500}        answer with that status, no items
                           {"close": true}             close the connection without an answer
                           {"raw": "text"}             answer 200 with this body
                           {"errors": true}            set "errors" true (items as usual)
                           {"item_status": {"3": 409}} status of items by position (from 0)
                         An empty plan {} answers normally. Requests answered by a plan with
                         http_status, close or raw are counted but not stored.

Usage: bulk_sink.py [--host 127.0.0.1] [--port 0] [--store DIR] [--discard] [--no-check]
                    [--verbose]
--no-check skips the JSON checks (items are counted by lines), for benchmarks.
With --port 0 a free port is chosen; the port number is the first line printed on standard
output. Stops on SIGINT or SIGTERM.
"""

import argparse
import base64
import json
import os
import signal
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

# Bodies larger than this are refused with 413.
MAX_BODY = 1 << 30


def _reject_constant(name):
    raise ValueError("not JSON: " + name)


def strict_json(line):
    """Parses one line as strict JSON (UTF-8, no NaN or Infinity); returns the value."""
    return json.loads(line.decode("utf-8"), parse_constant=_reject_constant)


def check_bulk(body):
    """Checks a bulk body; returns one (action, error) pair per item, in order."""
    lines = body.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    else:
        return [({}, "body does not end with a line feed")]
    items = []
    for i in range(0, len(lines), 2):
        action = {}
        try:
            parsed = strict_json(lines[i])
            if not isinstance(parsed, dict) or len(parsed) != 1 or "index" not in parsed:
                raise ValueError("action line is not {\"index\": {...}}")
            action = parsed["index"]
            if not isinstance(action, dict) or "_id" not in action:
                action = {}
                raise ValueError("action without _id")
            if i + 1 >= len(lines):
                raise ValueError("action line without a document")
            doc = strict_json(lines[i + 1])
            if not isinstance(doc, dict):
                raise ValueError("document is not an object")
        except (ValueError, UnicodeDecodeError) as e:
            items.append((action, str(e)))
            continue
        items.append((action, None))
    return items


class SinkState:
    def __init__(self, store_dir, keep):
        self.lock = threading.Lock()
        self.store_dir = store_dir
        self.keep = keep
        self.reset()

    def reset(self):
        self.requests = []
        self.count = 0
        self.documents = 0
        self.bytes = 0
        self.plans = []

    def next_plan(self):
        with self.lock:
            return self.plans.pop(0) if self.plans else {}

    def record(self, body, documents, stored):
        with self.lock:
            self.count += 1
            self.bytes += len(body)
            if not stored:
                return
            self.documents += documents
            if self.keep:
                self.requests.append((documents, body))
            if self.store_dir:
                name = os.path.join(self.store_dir, "request-%06d.ndjson" % self.count)
                with open(name, "wb") as f:
                    f.write(body)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body go out in two writes: without this, the second waits for the client's
    # delayed acknowledgement.
    disable_nagle_algorithm = True
    server_version = "bulk-sink/1"
    verbose = False
    check = True

    def log_message(self, fmt, *args):
        if self.verbose:
            sys.stderr.write("bulk_sink: " + (fmt % args) + "\n")

    @property
    def state(self):
        return self.server.sink_state

    def _send(self, status, payload, content_type="application/json"):
        data = payload if isinstance(payload, bytes) else json.dumps(payload).encode()
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def _body(self):
        length = self.headers.get("Content-Length")
        if length is None or not length.isdigit():
            self._send(411, {"error": "Content-Length required"})
            return None
        if int(length) > MAX_BODY:
            self.close_connection = True
            self._send(413, {"error": "body too large"})
            return None
        return self.rfile.read(int(length))

    def do_GET(self):
        if self.path == "/_sink/stats":
            with self.state.lock:
                self._send(200, {"requests": self.state.count, "documents": self.state.documents,
                                 "bytes": self.state.bytes, "plans_left": len(self.state.plans)})
        elif self.path == "/_sink/requests":
            with self.state.lock:
                reqs = [{"documents": n, "body_b64": base64.b64encode(b).decode()}
                        for n, b in self.state.requests]
            self._send(200, {"requests": reqs})
        else:
            self._send(404, {"error": "no such path"})

    def do_POST(self):
        body = self._body()
        if body is None:
            return
        if self.path == "/_bulk":
            self._bulk(body)
        elif self.path == "/_sink/reset":
            with self.state.lock:
                self.state.reset()
            self._send(200, {"ok": True})
        elif self.path == "/_sink/plan":
            try:
                plans = json.loads(body)
                if not isinstance(plans, list) or not all(isinstance(p, dict) for p in plans):
                    raise ValueError("a plan list is a JSON list of objects")
            except ValueError as e:
                self._send(400, {"error": str(e)})
                return
            with self.state.lock:
                self.state.plans.extend(plans)
            self._send(200, {"ok": True})
        else:
            self._send(404, {"error": "no such path"})

    def _bulk(self, body):
        started = time.monotonic()
        plan = self.state.next_plan()
        if plan.get("close"):
            self.state.record(body, 0, False)
            self.close_connection = True
            return
        if "http_status" in plan:
            self.state.record(body, 0, False)
            self._send(int(plan["http_status"]), {"error": "planned failure"})
            return
        if "raw" in plan:
            self.state.record(body, 0, False)
            self._send(200, plan["raw"].encode(), "text/plain")
            return
        if not self.check and not plan:
            # Benchmark path: one canned item per document.
            n = body.count(b"\n") // 2
            self.state.record(body, n, True)
            self._send(200, b'{"took":0,"errors":false,"items":[' +
                       b",".join([b'{"index":{"status":201,"result":"created"}}'] * n) + b"]}")
            return
        checked = check_bulk(body) if self.check else [({}, None)] * (body.count(b"\n") // 2)
        overrides = {int(k): int(v) for k, v in plan.get("item_status", {}).items()}
        errors = bool(plan.get("errors"))
        items = []
        for i, (action, error) in enumerate(checked):
            result = {"_index": action.get("_index"), "_type": action.get("_type"),
                      "_id": action.get("_id")}
            if error is not None:
                result.update(status=400, error={"type": "parse_exception", "reason": error})
                errors = True
            else:
                result.update(status=overrides.get(i, 201), result="created")
            items.append({"index": result})
        self.state.record(body, len(checked), True)
        took = int((time.monotonic() - started) * 1000)
        self._send(200, {"took": took, "errors": errors, "items": items})


def main():
    parser = argparse.ArgumentParser(description="Local bulk-index endpoint for tests and demos.")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port (printed)")
    parser.add_argument("--store", metavar="DIR", help="also write every request body to DIR")
    parser.add_argument("--discard", action="store_true", help="keep no bodies in memory")
    parser.add_argument("--no-check", action="store_true", help="do not check the JSON lines")
    parser.add_argument("--verbose", action="store_true", help="log every request")
    args = parser.parse_args()
    if not 0 <= args.port <= 65535:
        parser.error("--port must be 0 to 65535")
    if args.store:
        os.makedirs(args.store, exist_ok=True)

    Handler.verbose = args.verbose
    Handler.check = not args.no_check
    server = ThreadingHTTPServer((args.host, args.port), Handler)
    server.daemon_threads = True
    server.sink_state = SinkState(args.store, not args.discard)
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.shutdown).start())
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    main()
