#include "platform/naming/se_versions.h"

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "platform/datastore/datastore.h"
#include "proto/config.pb.h"

namespace {

// Calls `fn` with every committed Image record.
void ForEachImage(const std::function<void(const Image&)>& fn) {
  Datastore* db = Datastore::g_db_;
  if (db == nullptr) return;
  const std::string table = db_table_name_from_pb(Image::descriptor()->name());
  std::vector<std::pair<std::string, std::string>> keys;
  if (db->GetAll(table, &keys, 0) != SYSERR_SUCCESS) return;
  for (const auto& key : keys) {
    google::protobuf::Message* cfg = nullptr;
    google::protobuf::Message* rt = nullptr;
    if (db->GetInternal(table, key.second, &cfg, &rt) != SYSERR_SUCCESS) continue;
    std::unique_ptr<google::protobuf::Message> owned_cfg(cfg), owned_rt(rt);
    if (const auto* image = dynamic_cast<const Image*>(cfg)) fn(*image);
  }
}

bool HasSeVersion(const Image& image) {
  return image.has_se_info() && image.se_info().has_build() && image.se_info().build().has_version();
}

}  // namespace

std::set<std::string> get_active_versions() {
  std::set<std::string> versions;
  ForEachImage([&](const Image& image) {
    if (HasSeVersion(image)) versions.insert(image.se_info().build().tag());
  });
  return versions;
}

std::string get_image_path(const std::string& version) {
  std::string path = "None";
  ForEachImage([&](const Image& image) {
    if (path == "None" && HasSeVersion(image) && image.se_info().build().tag() == version &&
        !image.se_info().path().empty()) {
      path = image.se_info().path();
    }
  });
  return path;
}

std::string SeGroupVersion(const std::string& se_grp_uuid) {
  if (Datastore* db = Datastore::g_db_) {
    google::protobuf::Message* cfg = nullptr;
    google::protobuf::Message* rt = nullptr;
    if (db->GetInternal(db_table_name_from_pb(ServiceEngineGroup::descriptor()->name()),
                        se_grp_uuid, &cfg, &rt) == SYSERR_SUCCESS) {
      std::unique_ptr<google::protobuf::Message> owned_cfg(cfg), owned_rt(rt);
      const auto* group = dynamic_cast<const ServiceEngineGroup*>(cfg);
      if (group != nullptr && !group->se_version().empty()) return group->se_version();
    }
  }
  std::set<std::string> versions = get_active_versions();
  return versions.empty() ? "" : *versions.rbegin();
}
