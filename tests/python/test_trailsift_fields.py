"""Derived fields of application, connection and event logs, as they reach the documents."""

import pytest

from tslogs import app_msg, conn_msg, event_msg, index_docs, ip_group, ipv4

GEOIP_ERROR = "Error opening GeoIP DB{}/GeoIP.dat\n"


@pytest.mark.parametrize("case, log, groups, location, country_looked_up", [
    ("dns location wins", dict(kind="conn", dns="Paris", ip="10.1.0.1", vs="vs-loc-a"),
     True, "Paris", False),
    ("admin group", dict(kind="app", ip="10.1.0.1"), True, "admins", False),
    ("tenant group through the vs", dict(kind="conn", ip="10.2.0.1", vs="vs-loc-a"), True,
     "tenant-a", False),
    ("admin comes first", dict(kind="app", ip="10.1.0.9", vs="vs-loc-a"), True, "admins", False),
    ("other tenant's group", dict(kind="app", ip="10.2.0.1", vs="vs-loc-b"), True, "Unknown",
     True),
    ("no group, no country database", dict(kind="app", ip="10.1.0.1"), False, "Unknown", True),
    ("empty dns location", dict(kind="conn", dns="", ip="10.1.0.1"), True, "admins", False),
    ("location already set", dict(kind="app", ip="10.1.0.1", location="Lab"), True, "Lab",
     False),
    ("no client address", dict(kind="app"), True, None, False),
])
def test_client_location(trailsift, sink, tmp_path, capfd, ip_groups, tenant_map, side_dir,
                         case, log, groups, location, country_looked_up):
    tenant_map({"vs-loc-a": "tenant-a", "vs-loc-b": "tenant-b"})
    ip_groups([ip_group("g-admin", "admin", "admins", prefixes=[("10.1.0.0", 16)]),
               ip_group("g-a", "tenant-a", "tenant-a", prefixes=[("10.0.0.0", 8)])]
              if groups else [])
    fields = {}
    if "ip" in log:
        fields["client_ip"] = ipv4(log["ip"])
    if "vs" in log:
        fields["virtualservice"] = log["vs"]
    if "location" in log:
        fields["client_location"] = log["location"]
    if log["kind"] == "conn":
        msg = conn_msg(**fields)
        if "dns" in log:
            msg.connlogs[0].dns_request.client_location.name = log["dns"]
    else:
        msg = app_msg(**fields)
    kind = log["kind"] + "_log"
    capfd.readouterr()
    (doc,) = index_docs(trailsift, sink, tmp_path / "loc.log", kind, [msg])
    assert doc.get("client_location") == location
    err = capfd.readouterr().err
    assert err == (GEOIP_ERROR.format(side_dir) if country_looked_up else "")


def test_country_from_the_installed_database(sink, isolated, tmp_path):
    """With the country database, an address in no group gets its three-letter country code."""
    code = """
import trailsift
from tslogs import app_msg, ip_group, ipv4, record, write_log
from pathlib import Path
groups = Path(%r)
groups.write_bytes(record(ip_group("g", "admin", "lab", addrs=["8.8.4.4"])))
path = Path(%r)
write_log(path, [app_msg(client_ip=ipv4(ip)) for ip in ["8.8.8.8", "8.8.4.4", "10.0.0.1"]])
print(trailsift.IndexWorker(str(path), 0, "idx", "app_log", 10).run().total)
""" % (str(tmp_path / "groups"), str(tmp_path / "app.log"))
    proc = isolated(code, sink.port, env_overrides={
        "KYV_TRAILSIFT_GEOIP_DB": "/usr/share/GeoIP/GeoIP.dat",
        "KYV_TRAILSIFT_IP_GROUPS": str(tmp_path / "groups")})
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout == "3\n"
    assert [d["client_location"] for d in sink.docs()] == ["USA", "lab", "Unknown"]
    assert "Error opening GeoIP DB" not in proc.stderr


USER_AGENTS = [
    ("Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
     "Chrome/120.0.0.0 Safari/537.36", "Other", "Chrome", "Windows"),
    ("Mozilla/5.0 (iPhone; CPU iPhone OS 17_1_2 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like "
     "Gecko) Version/17.1 Mobile/15E148 Safari/604.1", "iPhone", "Mobile Safari", "iOS"),
    ("Mozilla/5.0 (Linux; Android 13; SM-S918B) AppleWebKit/537.36 (KHTML, like Gecko) "
     "Chrome/120.0.6099.144 Mobile Safari/537.36", "Samsung SM-S918B", "Chrome Mobile",
     "Android"),
    ("Mozilla/5.0 (Macintosh; Intel Mac OS X 10.15; rv:121.0) Gecko/20100101 Firefox/121.0",
     "Mac", "Firefox", "Mac OS X"),
    ("Mozilla/5.0 (compatible; Googlebot/2.1; +http://www.google.com/bot.html)", "Spider",
     "Googlebot", "Other"),
    ("curl/8.5.0", "Other", "curl", "Other"),
]


def test_user_agent_families(trailsift, sink, tmp_path):
    msgs = [app_msg(user_agent=ua) for ua, *_ in USER_AGENTS]
    msgs.append(app_msg(user_agent=""))
    msgs.append(app_msg(user_agent=USER_AGENTS[0][0], client_device="Kiosk"))
    msgs.append(app_msg(method="GET"))
    docs = index_docs(trailsift, sink, tmp_path / "ua.log", "app_log", msgs)
    got = [(d.get("client_device"), d.get("client_browser"), d.get("client_os")) for d in docs]
    assert got[:len(USER_AGENTS)] == [tuple(expected) for _, *expected in USER_AGENTS]
    assert got[len(USER_AGENTS):] == [("", "", ""), ("Kiosk", None, None), (None, None, None)]


def test_response_time_splits(trailsift, sink, tmp_path):
    def log(**fields):
        base = dict(server_response_time_first_byte=100, response_time_last_byte=250,
                    server_rtt=30, client_rtt=5)
        base.update(fields)
        return app_msg(**base)
    waf_1500 = log()
    waf_1500.applogs[0].waf_log.latency_request_header_phase = 1000
    waf_1500.applogs[0].waf_log.latency_response_body_phase = 500
    waf_1501 = log()
    waf_1501.applogs[0].waf_log.latency_request_body_phase = 1501
    docs = index_docs(trailsift, sink, tmp_path / "times.log", "app_log",
                      [log(), log(server_rtt=150), waf_1500, waf_1501, log(total_time=999)])
    got = [(d["app_response_time"], d["data_transfer_time"], d["total_time"]) for d in docs]
    assert got == [(70, 150, 255), (0, 150, 255), (70, 149, 255), (70, 148, 255),
                   (70, 150, 999)]


def test_cipher_texts_and_client_cipher_list(trailsift, sink, tmp_path):
    msgs = [app_msg(ssl_cipher="ECDHE-RSA-AES256-GCM-SHA384",
                    cipher_bytes=bytes([0xC0, 0x30, 0xAB, 0xCD, 0x13])),
            app_msg(ssl_cipher="TLS_AES_256_GCM_SHA384", cipher_bytes=b"\x13\x01\x00"),
            app_msg(ssl_cipher="AES128-SHA"),
            app_msg(ssl_cipher="NOT-IN-THE-LISTING", cipher_bytes=b""),
            app_msg(ssl_cipher="")]
    docs = index_docs(trailsift, sink, tmp_path / "tls.log", "app_log", msgs)
    assert [d["ssl_cipher"] for d in docs] == [
        "ECDHE-RSA-AES256-GCM-SHA384 kx:ECDH auth:RSA enc:AESGCM256 mac:AEAD PFS:True",
        "TLS_AES_256_GCM_SHA384 kx:any auth:any enc:AESGCM256 mac:AEAD PFS:True",
        "AES128-SHA kx:RSA auth:RSA enc:AES128 mac:SHA1 PFS:False",
        "NOT-IN-THE-LISTING kx:Unknown auth:Unknown enc:Unknown mac:Unknown PFS:Unknown",
        ""]
    assert docs[0]["client_cipher_list"] == {
        "identified_ciphers": ["TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384"],
        "unidentified_ciphers": ["abcd"]}
    assert docs[1]["client_cipher_list"] == {"identified_ciphers": ["TLS_AES_128_GCM_SHA256"]}
    assert "cipher_bytes" not in docs[0] and "cipher_bytes" not in docs[1]
    assert docs[3]["cipher_bytes"] == "" and "client_cipher_list" not in docs[3]


def test_grpc_reason_only_for_known_statuses(trailsift, sink, tmp_path):
    docs = index_docs(trailsift, sink, tmp_path / "grpc.log", "app_log",
                      [app_msg(grpc_status=s) for s in (0, 5, 16, 17, -1)])
    assert [d.get("grpc_status_reason_phrase") for d in docs] == [
        "GRPC_STATUS_CODE_OK", "GRPC_STATUS_CODE_NOT_FOUND", "GRPC_STATUS_CODE_UNAUTHENTICATED",
        None, None]


def test_significance_texts(trailsift, sink, tmp_path):
    apps = [app_msg(significant=0b101),
            app_msg(significant=0, significant_log=["FILTER_WAF_MATCH",
                                                    "FILTER_HTTP2_PROTOCOL_ERROR"]),
            app_msg(significant_log=[])]
    docs = index_docs(trailsift, sink, tmp_path / "app.log", "app_log", apps)
    assert [d.get("significance") for d in docs] == [
        "Client connection setup failed, Client connection reset",
        "Firewall rule match, 114",  # a filter without a display text: its number
        None]
    sink.reset()
    conn = conn_msg(significant=1 << 47, significant_log=["FILTER_WAF_MATCH"])
    (doc,) = index_docs(trailsift, sink, tmp_path / "conn.log", "conn_log", [conn])
    assert doc["significance"] == "gRPC error status"  # the bitmap comes first


def test_connection_totals_and_dns_addresses(trailsift, sink, tmp_path):
    with_start = conn_msg(start_timestamp=1, rx_bytes=10, tx_bytes=20, rx_pkts=1, tx_pkts=2,
                          server_rx_bytes=7, server_tx_bytes=8, server_rx_pkts=3,
                          server_tx_pkts=4)
    for ip in (ipv4("192.0.2.1"), None, ipv4("192.0.2.2")):
        rec = with_start.connlogs[0].dns_response.records.add(fqdn="a.example")
        if ip is not None:
            rec.addr_ip = ip
    without_start = conn_msg(rx_bytes=10, tx_bytes=20, dns_ips=[5])
    without_start.connlogs[0].dns_response.records.add(addr_ip=9)
    docs = index_docs(trailsift, sink, tmp_path / "conn.log", "conn_log",
                      [with_start, without_start])
    assert [docs[0][k] for k in ("total_bytes", "total_pkts", "server_total_bytes",
                                 "server_total_pkts")] == [30, 3, 15, 7]
    assert docs[0]["dns_ips"] == [ipv4("192.0.2.1"), ipv4("192.0.2.2")]
    assert "total_bytes" not in docs[1] and docs[1]["dns_ips"] == [5]


@pytest.mark.parametrize("module, obj_uuid, context", [
    ("CONFIG", "pool-1", "EVENT_CONTEXT_CONFIG"),
    ("CORVEL", "pool-1", "EVENT_CONTEXT_APP"),
    ("CORVEL", "virtualservice-7", "EVENT_CONTEXT_APP"),
    ("CORVEL", "cluster-1", "EVENT_CONTEXT_SYSTEM"),
    ("CORVEL", "", "EVENT_CONTEXT_SYSTEM"),
])
def test_event_context(trailsift, sink, tmp_path, module, obj_uuid, context):
    (doc,) = index_docs(trailsift, sink, tmp_path / "ev.log", "event_log",
                        [event_msg(event_id="VM_ADDED", module=module, obj_uuid=obj_uuid)])
    assert doc["context"] == context
