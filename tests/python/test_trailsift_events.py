"""Event descriptions as they reach the documents: schema templates and built-in formatters."""

import pytest

from proto import events_pb2
from tslogs import event_msg, index_docs


def server(details, monitors=()):
    details.hostname, details.ip.addr, details.port = "web-1", "10.0.0.5", 80
    for m in monitors:
        details.shm.add(health_monitor=m)


def pool_state(d):
    d.pool_state_details.pool = "p1"


def se_usage(d):
    u = d.se_resource_usage_details
    u.se_name, u.cpu_pct, u.disk_usage, u.dropped_pkts = "se-1", 93.26, "87.46", 12
    u.interfaces.append("eth0")


def dos(d):
    a = d.dos_attack_event_details
    a.attack, a.attack_count = events_pb2.DOS_SYN_FLOOD, 3
    a.src_ips.extend(["10.0.0.1", "10.0.0.2"])


def pool_server_down(d):
    d.pool_server_down_details.pool = "p1"
    server(d.pool_server_down_details.server)


def vip(d):
    d.dns_register_info.vip.addr = "10.0.0.9"
    d.dns_register_info.fip.addr = "203.0.113.9"
    d.dns_register_info.dns_info.add(fqdn="shop.example.com")


def two_details(d):
    d.disc_summary.vcenter = "vc"  # field 101: the VIP formatter does not take it
    d.dns_register_info.vip.addr = "10.0.0.9"


@pytest.mark.parametrize("event_id, fill, description", [
    ("POOL_DOWN", pool_state, "Pool p1 is down"),
    ("POOL_UP", pool_state, "Pool p1 is up"),
    ("SE_HIGH_CPU", se_usage, "CPU usage of SE se-1 is 93.3 percent"),
    ("SE_HIGH_DISK_USAGE", se_usage, "Disk usage of SE se-1 is 87.5 percent"),
    ("SE_PACKETS_DROPPED", se_usage, "SE se-1 dropped 12 packets on eth0"),
    ("DOS_ATTACK", dos, "3.0 DOS_SYN_FLOOD attacksfrom_ip(s) 10.0.0.1,..."),
    ("POOL_SERVER_WENT_DOWN", pool_server_down,
     "Server web-1 (10.0.0.5:80) in Pool p1 is DOWN due to health monitor [] failure"),
    ("VIP_DNS_REGISTER_SUCCESS", vip, "VIP 203.0.113.9 registered to shop.example.com"),
    ("VIP_DNS_DEREGISTER_FAILURE", two_details, "VIP 10.0.0.9 de-registered failed for "),
    ("CONTROLLER_LEADER_CHANGED",
     lambda d: setattr(d.controller_leader_change_details, "leader", "node-2"),
     "'Controller cluster has a new leader'"),
    ("CONFIG_CREATE", pool_state, ""),  # neither option: an empty description
    ("DOS_ATTACK", pool_state, ""),     # a formatter that does not take the details
])
def test_descriptions(trailsift, sink, tmp_path, capfd, event_id, fill, description):
    msg = event_msg(event_id=event_id, report_timestamp=5 << 32)
    fill(msg.eventlogs[0].event_details)
    (doc,) = index_docs(trailsift, sink, tmp_path / "ev.log", "event_log", [msg])
    assert doc["event_description"] == description
    assert capfd.readouterr().out == ""


def test_template_error_becomes_the_description(trailsift, sink, tmp_path, capfd):
    msg = event_msg(event_id="SE_HIGH_DISK_USAGE")
    msg.eventlogs[0].event_details.se_resource_usage_details.disk_usage = "n/a"
    (doc,) = index_docs(trailsift, sink, tmp_path / "ev.log", "event_log", [msg])
    reason = '"n/a" is not a number for {:.1f}'
    assert doc["event_description"] == reason
    assert capfd.readouterr().out == "[Error] when proceesing event_desc: %s\n" % reason


def test_a_description_that_is_there_is_kept(trailsift, sink, tmp_path):
    kept = event_msg(event_id="POOL_DOWN", event_description="written by the SE")
    pool_state(kept.eventlogs[0].event_details)
    no_details = event_msg(event_id="POOL_DOWN")
    docs = index_docs(trailsift, sink, tmp_path / "ev.log", "event_log", [kept, no_details])
    assert docs[0]["event_description"] == "written by the SE"
    assert "event_description" not in docs[1]
