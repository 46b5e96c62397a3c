// Inventory files: JSON read and written with protobuf's JSON mapping of SimInventory.
#pragma once

#include <string>

#include "tools/vcmgr_sim/sim_inventory.pb.h"

namespace vcmgr_sim {

// Parses JSON text into `*out` and checks it (ValidateInventory). Field names are those of the
// schema (snake_case or lowerCamelCase), enum values are written by name. Returns false with
// `*error` naming the field: "hosts[1].cpu_hz: invalid value ..." from the parser, or the
// first failed check.
bool ParseInventoryJson(const std::string& json, SimInventory* out, std::string* error);

// Reads the file at `path` and parses it like ParseInventoryJson; errors start with the path.
bool LoadInventoryFile(const std::string& path, SimInventory* out, std::string* error);

// JSON text of an inventory, indented, with snake_case field names.
bool InventoryToJson(const SimInventory& inv, std::string* out, std::string* error);

}  // namespace vcmgr_sim
