#!/usr/bin/python3
"""Indexing throughput of trailsift: plain application logs into the local bulk sink.

"Plain" logs carry the usual request fields but none that asks for derived fields (no client
address, user agent, cipher or significance), so the figure measures reading, rendering and
posting. Usage:

  bench/trailsift_bench.py [--records 100000] [--runs 3] [--build-dir build]

Prints the best and the median of the runs in records per second. The sink is started with
--discard --no-check so that its own work stays small; its time is still part of the figure,
since every batch waits for its answer.
"""

import argparse
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]


def write_plain_logs(path, count, log_pb2):
    with open(path, "wb") as f:
        for i in range(count):
            msg = log_pb2.LogMessage()
            log = msg.applogs.add()
            log.report_timestamp = ((1700000000 + i // 1000) << 32) | (i % 1000)
            log.service_engine = "se-%d" % (i % 8)
            log.vcpu_id = i % 4
            log.log_id = i
            log.virtualservice = "vs-shop-%d" % (i % 16)
            log.method = "GET"
            log.uri_path = "/catalog/item/%d" % (i % 5000)
            log.response_code = 200 if i % 50 else 503
            log.request_length = 420 + i % 100
            log.response_length = 8000 + i % 4000
            log.server_ip = 0x0A000001 + i % 32
            data = msg.SerializeToString()
            f.write(struct.pack(">I", len(data)) + data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--records", type=int, default=100000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--build-dir", default=os.environ.get("KYV_BUILD_DIR", REPO / "build"))
    args = parser.parse_args()

    sys.path.insert(0, str(Path(args.build_dir) / "python"))
    sink = subprocess.Popen([sys.executable, str(REPO / "tools/bulk_sink/bulk_sink.py"),
                             "--port", "0", "--discard", "--no-check"],
                            stdout=subprocess.PIPE, text=True)
    try:
        port = int(sink.stdout.readline())
        with tempfile.TemporaryDirectory(prefix="trailsift_bench_") as tmp:
            os.environ["KYV_TRAILSIFT_BULK_PORT"] = str(port)
            for var, name in [("KYV_TRAILSIFT_TENANT_MAP", "vs_tenant_map"),
                              ("KYV_TRAILSIFT_CIPHERS", "openssl_ciphers"),
                              ("KYV_TRAILSIFT_IP_GROUPS", "ip_address_groups_proto"),
                              ("KYV_TRAILSIFT_REGEXES", "regexes.yaml")]:
                os.environ[var] = os.path.join(tmp, name)
            import trailsift
            from proto import log_pb2

            path = os.path.join(tmp, "app.log")
            write_plain_logs(path, args.records, log_pb2)
            size = os.path.getsize(path)
            rates = []
            for _ in range(args.runs):
                worker = trailsift.IndexWorker(path, 0, "bench-app", "app_log", args.records)
                start = time.perf_counter()
                ret = worker.run()
                elapsed = time.perf_counter() - start
                if ret.total != args.records or ret.read_pos != size:
                    sys.exit("bench: indexed %d of %d records (read_pos %d of %d)"
                             % (ret.total, args.records, ret.read_pos, size))
                rates.append(args.records / elapsed)
    finally:
        sink.terminate()
        sink.wait()

    print("trailsift plain application logs: %d records, %.1f MB, %d runs" %
          (args.records, size / 1e6, args.runs))
    print("  best   %10.0f records/s" % max(rates))
    print("  median %10.0f records/s" % statistics.median(rates))


if __name__ == "__main__":
    main()
