#include "controller/vinfra/corvel/corvel_inventory.h"

#include <gtest/gtest.h>

#include "controller/vinfra/corvel/corvel_ids.h"

namespace {


TEST(Inventory, ConstructionCreatesTheUnknownDatacenterEntry) {
  CorvelInventory inv("vc.example", "user", "pw", "mgmt-pg", "DC1", "se-template", "vrf-1",
                      "datacenter-21-cloud-1", 1700000000, nullptr, nullptr, nullptr);
  CorvelDatacenter* dc = inv._p_inventory_dc_;
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(dc->dc_name, "UNKNOWN");
  EXPECT_EQ(dc->dc_managed_obj_id, "datacenter-21");
  EXPECT_EQ(dc->discovery_state, DC_DISC_HOST);
  EXPECT_EQ(dc->txn, nullptr);
  EXPECT_EQ(dc->num_outstanding_vnic_sevm_reqs + dc->num_outstanding_vnic_vmpg_reqs +
                dc->num_outstanding_vnic_vm_notif + dc->num_interested_pgs +
                dc->num_outstanding_host_pg_reqs,
            0);
  EXPECT_TRUE(inv.inventory_flush);
  EXPECT_FALSE(inv.vm_resync || inv.resource_resync || inv.disable_vm_disc ||
               inv.waiting_in_cloud_throttle);
  EXPECT_EQ(inv.datacenter_uuid_, "datacenter-21-cloud-1");

  // One entry, whatever key is asked for; creating again changes nothing.
  EXPECT_EQ(CorvelInventoryRetrieveDCmapObjectUuid(&inv, "anything"), dc);
  EXPECT_EQ(CorvelInventoryRetrieveDCmapObjectMor(&inv, "datacenter-99"), dc);
  inv.CorvelCreateDCMap("Other", "datacenter-5-cloud-1");
  EXPECT_EQ(inv._p_inventory_dc_, dc);
  EXPECT_EQ(dc->dc_name, "UNKNOWN");

  CorvelInventoryUpdateDCmapObject(&inv, "datacenter-5-cloud-1");
  EXPECT_EQ(dc->dc_uuid, "datacenter-5-cloud-1");
  EXPECT_EQ(dc->dc_managed_obj_id, "datacenter-5");
  CorvelInventoryRemoveDCmapObject(&inv, "x");
  EXPECT_EQ(CorvelInventoryRetrieveDCmapObjectUuid(&inv, "x"), nullptr);
  CorvelInventoryUpdateDCmapObject(&inv, "datacenter-6-cloud-1");  // no entry: nothing
}

TEST(Inventory, PortGroupNameIndex) {
  CorvelInventory inv("vc", "u", "p", "", "DC", "", "", "datacenter-1-c", 0, nullptr, nullptr,
                      nullptr);
  inv.InsertNwMapNode("VM Network", "network-1-c", false);
  inv.InsertNwMapNode("VM Network", "network-1-c", false);
  inv.InsertNwMapNode("VM Network", "dvportgroup-2-c", true);
  ASSERT_EQ(inv.nw_map.at("VM Network")->size(), 2u);

  // A standard port group renamed for a clash is removed under its bare name.
  inv.RemoveNwMapNode("vSwitch:VM Network", "network-1-c", false);
  ASSERT_EQ(inv.nw_map.at("VM Network")->size(), 1u);
  EXPECT_EQ(inv.nw_map.at("VM Network")->at(0)->uuid, "dvportgroup-2-c");
  // With dvs the full name is the key: "vSwitch:VM Network" is not an entry.
  inv.RemoveNwMapNode("vSwitch:VM Network", "dvportgroup-2-c", true);
  EXPECT_EQ(inv.nw_map.at("VM Network")->size(), 1u);
  inv.RemoveNwMapNode("VM Network", "dvportgroup-2-c", true);
  EXPECT_TRUE(inv.nw_map.at("VM Network")->empty());  // the vector stays
  inv.RemoveNwMapNode("Missing", "x", true);
}

TEST(Ids, MorFromUuid) {
  struct Case {
    const char* uuid;
    const char* mor;
  } cases[] = {
      {"host-12-cloud-1", "host-12"},
      {"vm-7-cloud-abc-def", "vm-7"},
      {"host-12", ""},
      {"cloud", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uuid);
    EXPECT_EQ(RetrieveMorFromUuid(c.uuid), c.mor);
  }
  EXPECT_EQ(AssignObjUUID("cloud-1", "host-12"), "host-12-cloud-1");
}

}  // namespace
