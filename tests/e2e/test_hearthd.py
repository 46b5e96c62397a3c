"""The host process on its own: help, start-up, the retried link, identity, clean exit."""
import subprocess

from harness import binary, cli


def test_help_lists_the_host_flags():
    res = subprocess.run([binary("hearthd"), "--help"], capture_output=True, text=True, timeout=30)
    assert res.returncode == 0
    for flag in ("--datastore", "--admin_port", "--enable_vcmgr_notif", "--vcmgr_port", "--role"):
        assert flag in res.stdout


def test_bad_datastore_flag_is_refused_clearly(tmp_path):
    res = subprocess.run([binary("hearthd"), "--datastore=postgres:x", "--admin_port=0"],
                         capture_output=True, text=True, timeout=30, cwd=tmp_path)
    assert res.returncode == 2
    assert "--datastore must be sqlite:PATH or memory" in res.stderr


def test_retries_the_manager_every_second_and_exits_zero_on_sigterm(procs, refusing_port):
    host = procs.hearthd(refusing_port, "--v=1")
    host.wait_for(r"not reachable; retrying every second")
    host.wait_for(r"still not reachable \(attempt 2\)", timeout=10)
    status = cli(host.admin_port, "status", "--json")
    assert status["controller_uuid"] == "cluster-0"
    assert status.get("vcmgr_connected", False) is False
    assert host.stop() == 0


def test_identity_comes_from_the_bootstrapped_cluster_record(procs, refusing_port):
    host = procs.hearthd(refusing_port, "--cluster_uuid=cluster-e2e", "--controller_vip=10.1.1.100",
                         "--controller_ips=10.1.1.1,10.1.1.2", "--controller_vm_mors=vm-11,vm-12")
    status = cli(host.admin_port, "status", "--json")
    assert status["controller_uuid"] == "cluster-e2e"
    assert status["controller_vm_mor"] == "vm-11"
    assert status["controller_ips"] == ["10.1.1.100", "10.1.1.1", "10.1.1.2"]
