#include "platform/naming/naming.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

#include <initializer_list>
#include <map>
#include <memory>

#include "platform/datastore/datastore.h"

namespace {

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;

// The table holding the object of `uuid`: its kind prefix, or the connector's runtime table for
// a vCenter inventory kind. "" when the uuid has no kind.
std::string TableOfUuid(const std::string& uuid) {
  static const std::map<std::string, std::string> kInventoryTables = {
      {"datacenter", "corveldc"}, {"domain", "corvelcluster"}, {"host", "corvelhost"},
      {"vm", "corvelvm"},         {"network", "corvelnw"},     {"dvportgroup", "corvelnw"},
  };
  const size_t dash = uuid.find('-');
  if (dash == std::string::npos || dash == 0) return "";
  std::string kind = uuid.substr(0, dash);
  auto it = kInventoryTables.find(kind);
  return it != kInventoryTables.end() ? it->second : kind;
}

// A singular string field of `msg` named `field`, or "" (null message, no such field, unset).
std::string StringField(const Message* msg, const char* field) {
  if (msg == nullptr) return "";
  const FieldDescriptor* fd = msg->GetDescriptor()->FindFieldByName(field);
  if (fd == nullptr || fd->is_repeated() || fd->cpp_type() != FieldDescriptor::CPPTYPE_STRING) {
    return "";
  }
  return msg->GetReflection()->GetString(*msg, fd);
}

// The first non-empty field among `fields` of the object of `uuid`, looked for in its
// configuration half, then in its runtime half.
std::string ObjectField(const std::string& uuid, std::initializer_list<const char*> fields) {
  Datastore* db = Datastore::g_db_;
  const std::string table = TableOfUuid(uuid);
  if (db == nullptr || table.empty()) return "";
  Message* cfg = nullptr;
  Message* runtime = nullptr;
  if (db->GetInternal(table, uuid, &cfg, &runtime) != SYSERR_SUCCESS) return "";
  std::unique_ptr<Message> cfg_owner(cfg);
  std::unique_ptr<Message> runtime_owner(runtime);
  for (const Message* msg : {cfg, runtime}) {
    for (const char* field : fields) {
      std::string value = StringField(msg, field);
      if (!value.empty()) return value;
    }
  }
  return "";
}

}  // namespace

std::string uuid_to_name(const std::string& uuid) { return ObjectField(uuid, {"name"}); }

std::string uuid_to_tenant(const std::string& uuid) {
  return ObjectField(uuid, {"tenant_uuid", "tenant_ref"});
}
