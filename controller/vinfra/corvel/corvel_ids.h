// Object identifiers of discovered vCenter objects: managed object reference (MOR, kind "-"
// number) + "-" + the cloud's uuid.
#pragma once

#include <string>

// managed_obj_id + "-" + cloud_uuid.
std::string AssignObjUUID(const std::string& cloud_uuid, const std::string& managed_obj_id);
// The MOR of an identifier: its first two "-"-separated parts, or "" with fewer than three.
std::string RetrieveMorFromUuid(const std::string& uuid);
