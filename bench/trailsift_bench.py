#!/usr/bin/python3
"""Indexing throughput of trailsift into the local bulk sink, without and with derived fields.

Two workloads of application logs, each indexed by one worker per run:

  plain   the usual request fields, none that asks for a derived field (no client address, user
          agent, cipher or significance): reading, rendering and posting.
  fields  every derived field in play, in a realistic mix: 200 distinct user agents (browsers,
          phones, bots, tools; a few dominate, as in real traffic), 5,000 client addresses
          (a third inside the 20 IP address groups of four tenants, the rest looked up in the
          country database), virtual services of those tenants, response times with WAF
          latencies, negotiated ciphers and offered cipher suites, significance bitmaps and
          filter lists, gRPC statuses.

Usage:

  bench/trailsift_bench.py [--records 100000] [--runs 3] [--workload both|plain|fields]
                           [--build-dir build]

Prints the best and the median of the runs in records per second for each workload. The sink
is started with --discard --no-check so that its own work stays small; its time is still part
of the figures, since every batch waits for its answer.
"""

import argparse
import os
import random
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
GEOIP_DB = "/usr/share/GeoIP/GeoIP.dat"

# A verbose cipher listing, one blank between fields (the layout the controller ships).
CIPHER_LISTING = """\
TLS_AES_256_GCM_SHA384 TLSv1.3 Kx=any Au=any Enc=AESGCM(256) Mac=AEAD
TLS_CHACHA20_POLY1305_SHA256 TLSv1.3 Kx=any Au=any Enc=CHACHA20/POLY1305(256) Mac=AEAD
TLS_AES_128_GCM_SHA256 TLSv1.3 Kx=any Au=any Enc=AESGCM(128) Mac=AEAD
ECDHE-ECDSA-AES256-GCM-SHA384 TLSv1.2 Kx=ECDH Au=ECDSA Enc=AESGCM(256) Mac=AEAD
ECDHE-RSA-AES256-GCM-SHA384 TLSv1.2 Kx=ECDH Au=RSA Enc=AESGCM(256) Mac=AEAD
DHE-RSA-AES256-GCM-SHA384 TLSv1.2 Kx=DH Au=RSA Enc=AESGCM(256) Mac=AEAD
ECDHE-RSA-CHACHA20-POLY1305 TLSv1.2 Kx=ECDH Au=RSA Enc=CHACHA20/POLY1305(256) Mac=AEAD
ECDHE-ECDSA-AES128-GCM-SHA256 TLSv1.2 Kx=ECDH Au=ECDSA Enc=AESGCM(128) Mac=AEAD
ECDHE-RSA-AES128-GCM-SHA256 TLSv1.2 Kx=ECDH Au=RSA Enc=AESGCM(128) Mac=AEAD
ECDHE-RSA-AES256-SHA384 TLSv1.2 Kx=ECDH Au=RSA Enc=AES(256) Mac=SHA384
AES256-GCM-SHA384 TLSv1.2 Kx=RSA Au=RSA Enc=AESGCM(256) Mac=AEAD
AES128-SHA SSLv3 Kx=RSA Au=RSA Enc=AES(128) Mac=SHA1
"""
NEGOTIATED = [line.split(" ")[0] for line in CIPHER_LISTING.splitlines()] + ["RC4-MD5"]
# Suites a client offers (16-bit values): TLS 1.3, ECDHE, CBC fallbacks, renegotiation info.
OFFERED = [0x1301, 0x1302, 0x1303, 0xC02B, 0xC02F, 0xC02C, 0xC030, 0xCCA9, 0xCCA8, 0xC013,
           0xC014, 0x009C, 0x009D, 0x002F, 0x0035, 0x00FF]
GREASE = [0x0A0A, 0x1A1A, 0x2A2A, 0x3A3A, 0x4A4A]
VIRTUAL_SERVICES = {"vs-shop-%d" % i: ("admin", "retail", "media", "partners")[i % 4]
                    for i in range(16)}


def user_agents(count=200):
    """`count` distinct user agents of real clients, most common first."""
    out = []
    for v in range(109, 124):
        out.append("Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like "
                   "Gecko) Chrome/%d.0.0.0 Safari/537.36" % v)
        out.append("Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/537.36 (KHTML, "
                   "like Gecko) Chrome/%d.0.0.0 Safari/537.36" % v)
        out.append("Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like "
                   "Gecko) Chrome/%d.0.0.0 Safari/537.36 Edg/%d.0.2210.%d" % (v, v, v % 90))
        out.append("Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:%d.0) Gecko/20100101 "
                   "Firefox/%d.0" % (v, v))
        out.append("Mozilla/5.0 (X11; Linux x86_64; rv:%d.0) Gecko/20100101 Firefox/%d.0"
                   % (v, v))
    for major in (15, 16, 17):
        for minor in range(0, 7):
            out.append("Mozilla/5.0 (iPhone; CPU iPhone OS %d_%d like Mac OS X) "
                       "AppleWebKit/605.1.15 (KHTML, like Gecko) Version/%d.%d Mobile/15E148 "
                       "Safari/604.1" % (major, minor, major, minor))
            out.append("Mozilla/5.0 (iPad; CPU OS %d_%d like Mac OS X) AppleWebKit/605.1.15 "
                       "(KHTML, like Gecko) Version/%d.%d Mobile/15E148 Safari/604.1"
                       % (major, minor, major, minor))
            out.append("Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 "
                       "(KHTML, like Gecko) Version/%d.%d Safari/605.1.15" % (major, minor))
    models = ["SM-S918B", "SM-A546B", "SM-G991B", "Pixel 7", "Pixel 8 Pro", "M2101K6G",
              "CPH2451", "moto g(60)", "RMX3511", "2201117TY"]
    for i, model in enumerate(models):
        for android, chrome in ((12, 118), (13, 119), (13, 120), (14, 121)):
            out.append("Mozilla/5.0 (Linux; Android %d; %s) AppleWebKit/537.36 (KHTML, like "
                       "Gecko) Chrome/%d.0.%d.%d Mobile Safari/537.36"
                       % (android, model, chrome, 6000 + i, 100 + android))
    out += ["Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)",
            "Mozilla/5.0 (compatible; bingbot/2.0; +http://www.bing.com/bingbot.htm)",
            "Mozilla/5.0 (compatible; YandexBot/3.0; +http://yandex.com/bots)",
            "Mozilla/5.0 (compatible; AhrefsBot/7.0; +http://ahrefs.com/robot/)"]
    out += ["curl/7.%d.0" % v for v in range(68, 89)]
    out += ["python-requests/2.%d.0" % v for v in range(20, 32)]
    out += ["Go-http-client/1.1", "Go-http-client/2.0", "okhttp/4.12.0", "okhttp/4.9.3"]
    seen, distinct = set(), []
    for ua in out:
        if ua not in seen:
            seen.add(ua)
            distinct.append(ua)
    if len(distinct) < count:
        sys.exit("bench: only %d distinct user agents" % len(distinct))
    return distinct[:count]


def ip_groups(config_pb2):
    """Twenty groups of four tenants under 10.0.0.0/8 and 100.64.0.0/10."""
    groups = []
    tenants = ["admin", "retail", "media", "partners"]
    for i in range(20):
        g = config_pb2.IpAddrGroup(uuid="ipg-%02d" % i, name="site-%02d" % i,
                                   tenant_uuid=tenants[i % 4])
        if i % 3 == 0:
            p = g.prefixes.add(mask=16)
            p.ip_addr.addr = "10.%d.0.0" % i
        elif i % 3 == 1:
            r = g.ranges.add()
            r.begin.addr, r.end.addr = "10.%d.0.0" % i, "10.%d.63.255" % i
            g.addrs.add(addr="100.64.%d.1" % i)
        else:
            for k in range(8):
                p = g.prefixes.add(mask=24)
                p.ip_addr.addr = "10.%d.%d.0" % (i, k * 4)
        groups.append(g)
    return groups


def client_addresses(rng, count=5000):
    """(address, virtual service) pairs: a third inside a group, each with a virtual service of
    the group's tenant (any for the admin tenant's groups); the rest public addresses."""
    by_tenant = {}
    for vs, tenant in sorted(VIRTUAL_SERVICES.items()):
        by_tenant.setdefault(tenant, []).append(vs)
    tenants = ["admin", "retail", "media", "partners"]
    out = []
    for i in range(count):
        if i % 3 == 0:
            g = rng.randrange(20)  # the groups of ip_groups()
            if g % 3 == 0:
                low = rng.randrange(1 << 16)
            elif g % 3 == 1:
                low = rng.randrange(1 << 14)
            else:
                low = (rng.randrange(8) * 4 << 8) | rng.randrange(256)
            ip = (10 << 24) | (g << 16) | low
            vs = rng.choice(by_tenant[tenants[g % 4]] if g % 4 else sorted(VIRTUAL_SERVICES))
        else:
            first = rng.choice([a for a in range(1, 224) if a not in (10, 100, 127)])
            ip = (first << 24) | rng.randrange(1 << 24)
            vs = rng.choice(sorted(VIRTUAL_SERVICES))
        out.append((ip, vs))
    return out


def write_logs(path, count, log_pb2, fields, rng):
    agents = user_agents() if fields else []
    addresses = client_addresses(rng) if fields else []
    ua_weights = [1.0 / (k + 1) for k in range(len(agents))]  # a few agents dominate
    vs_names = sorted(VIRTUAL_SERVICES)
    with open(path, "wb") as f:
        for i in range(count):
            msg = log_pb2.LogMessage()
            log = msg.applogs.add()
            log.report_timestamp = ((1700000000 + i // 1000) << 32) | (i % 1000)
            log.service_engine = "se-%d" % (i % 8)
            log.vcpu_id = i % 4
            log.log_id = i
            log.virtualservice = vs_names[i % 16]
            log.method = "GET"
            log.uri_path = "/catalog/item/%d" % (i % 5000)
            log.response_code = 200 if i % 50 else 503
            log.request_length = 420 + i % 100
            log.response_length = 8000 + i % 4000
            log.server_ip = 0x0A000001 + i % 32
            if fields:
                log.client_ip, log.virtualservice = addresses[rng.randrange(len(addresses))]
                log.user_agent = rng.choices(agents, ua_weights)[0]
                log.client_rtt = rng.randrange(1, 80)
                log.server_rtt = rng.randrange(1, 10)
                first = rng.randrange(5, 400)
                log.server_response_time_first_byte = first
                log.response_time_last_byte = first + rng.randrange(0, 300)
                if i % 10 < 3:
                    waf = log.waf_log
                    waf.latency_request_header_phase = rng.randrange(50, 900)
                    waf.latency_request_body_phase = rng.randrange(0, 3000)
                    waf.latency_response_header_phase = rng.randrange(20, 600)
                    waf.latency_response_body_phase = rng.randrange(0, 2000)
                if i % 10 == 0:
                    log.significant = (1 << rng.randrange(49)) | (1 << rng.randrange(49))
                elif i % 10 == 1:
                    log.significant_log.extend([100 + rng.randrange(15)
                                                for _ in range(rng.randrange(1, 4))])
                if i % 10 != 9:
                    log.ssl_cipher = rng.choice(NEGOTIATED)
                if i % 10 < 7:
                    offered = [rng.choice(GREASE)] + rng.sample(OFFERED, rng.randrange(6, 16))
                    log.cipher_bytes = b"".join(struct.pack(">H", v) for v in offered)
                if i % 20 == 0:
                    log.grpc_status = rng.randrange(0, 20)
            data = msg.SerializeToString()
            f.write(struct.pack(">I", len(data)) + data)


def measure(trailsift, path, records, runs, index):
    size = os.path.getsize(path)
    rates = []
    for _ in range(runs):
        worker = trailsift.IndexWorker(path, 0, index, "app_log", records)
        start = time.perf_counter()
        ret = worker.run()
        elapsed = time.perf_counter() - start
        if ret.total != records or ret.read_pos != size:
            sys.exit("bench: indexed %d of %d records (read_pos %d of %d)"
                     % (ret.total, records, ret.read_pos, size))
        rates.append(records / elapsed)
    return size, rates


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--records", type=int, default=100000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--workload", choices=["both", "plain", "fields"], default="both")
    parser.add_argument("--build-dir", default=os.environ.get("KYV_BUILD_DIR", REPO / "build"))
    args = parser.parse_args()

    sys.path.insert(0, str(Path(args.build_dir) / "python"))
    sink = subprocess.Popen([sys.executable, str(REPO / "tools/bulk_sink/bulk_sink.py"),
                             "--port", "0", "--discard", "--no-check"],
                            stdout=subprocess.PIPE, text=True)
    results = []
    try:
        port = int(sink.stdout.readline())
        with tempfile.TemporaryDirectory(prefix="trailsift_bench_") as tmp:
            side = Path(tmp)
            os.environ["KYV_TRAILSIFT_BULK_PORT"] = str(port)
            os.environ["KYV_TRAILSIFT_REGEXES"] = str(REPO / "third_party/uap-core/regexes.yaml")
            os.environ["KYV_TRAILSIFT_GEOIP_DB"] = GEOIP_DB
            for var, name in [("KYV_TRAILSIFT_TENANT_MAP", "vs_tenant_map"),
                              ("KYV_TRAILSIFT_CIPHERS", "openssl_ciphers"),
                              ("KYV_TRAILSIFT_IP_GROUPS", "ip_address_groups_proto")]:
                os.environ[var] = str(side / name)
            from proto import config_pb2, log_pb2
            (side / "openssl_ciphers").write_text(CIPHER_LISTING)
            (side / "vs_tenant_map").write_text(
                "".join("%s,%s\n" % item for item in VIRTUAL_SERVICES.items()))
            with open(side / "ip_address_groups_proto", "wb") as f:
                for g in ip_groups(config_pb2):
                    data = g.SerializeToString()
                    f.write(struct.pack(">I", len(data)) + data)
            import trailsift

            for workload in ("plain", "fields"):
                if args.workload not in ("both", workload):
                    continue
                path = str(side / (workload + ".log"))
                write_logs(path, args.records, log_pb2, workload == "fields",
                           random.Random(20240611))
                size, rates = measure(trailsift, path, args.records, args.runs,
                                      "bench-" + workload)
                results.append((workload, size, rates))
    finally:
        sink.terminate()
        sink.wait()

    if args.workload != "plain" and not os.path.exists(GEOIP_DB):
        print("note: no country database at %s: addresses outside the groups are Unknown"
              % GEOIP_DB)
    for workload, size, rates in results:
        print("trailsift %s application logs: %d records, %.1f MB, %d runs" %
              (workload, args.records, size / 1e6, args.runs))
        print("  best   %10.0f records/s" % max(rates))
        print("  median %10.0f records/s" % statistics.median(rates))


if __name__ == "__main__":
    main()
