#include "controller/vinfra/corvel/corvel_ids.h"

#include "platform/common/common_utils.h"

std::string AssignObjUUID(const std::string& cloud_uuid, const std::string& managed_obj_id) {
  return managed_obj_id + "-" + cloud_uuid;
}

std::string RetrieveMorFromUuid(const std::string& uuid) {
  std::vector<std::string> parts = str_split(uuid, "-");
  if (parts.size() < 3) return "";
  return parts[0] + "-" + parts[1];
}
