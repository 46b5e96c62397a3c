// Reading the IP address group file that the controller exports for the log indexer.
#pragma once

#include <cstddef>
#include <string>

#include "controller/metrics_manager/ip_table.h"

namespace kyv::infra::log {

// What one read of the file did.
struct IpGroupFileRead {
  bool opened = false;
  size_t groups = 0;   // records stored in the table
  size_t skipped = 0;  // records that did not parse
  bool truncated = false;
};

// Empties `table`, then stores every IpAddrGroup record of the file at `path` (a 4-byte
// big-endian length N, then N bytes of one serialized IpAddrGroup) in it, in file order, as
// upd_group does: a later group with the same uuid in the same tenant replaces the earlier.
// Each tenant's tree is built once, after the last record.
//
// Lines on standard error: "Unable to open IP address groups file" when the file cannot be
// opened (the table stays empty); "Error when getting IPAddrGroup from protobuf file length:"
// with the bytes read and N when the file ends inside a record (reading stops there; the groups
// before it stay); "Skipping an IP address group record that does not parse at offset " and the
// offset for a record that is not an IpAddrGroup (reading goes on after it).
IpGroupFileRead ReadIpAddrGroupFile(const std::string& path, ip_table_group* table);

}  // namespace kyv::infra::log
