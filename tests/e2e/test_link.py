"""The connector's link to the vCenter manager, with the simulator as the manager."""
import os

from harness import REPO, cli

INVENTORY = os.path.join(REPO, "examples", "inventory.json")


def link_ups(host):
    return cli(host.admin_port, "status", "--json").get("vcmgr_link_ups", 0)


def test_link_comes_up_once_and_again_after_the_manager_restarts(procs):
    sim = procs.vcmgr_sim(f"--inventory={INVENTORY}")
    host = procs.hearthd(sim.port)
    host.wait_for(r"Tcp Connection Success Callback")
    assert link_ups(host) == 1
    status = cli(host.admin_port, "status", "--json")
    assert status["vcmgr_connected"] is True

    assert sim.stop() == 0
    host.wait_for(r"not reachable; retrying every second")
    assert cli(host.admin_port, "status", "--json").get("vcmgr_connected", False) is False

    procs.vcmgr_sim(f"--inventory={INVENTORY}", port=sim.port)
    host.wait_for_count(r"Tcp Connection Success Callback", 2)
    assert link_ups(host) == 2
    assert host.stop() == 0
