#include "platform/datastore/object_codec.h"

#include <glog/logging.h>
#include <google/protobuf/descriptor.h>

namespace kyv {

using google::protobuf::Descriptor;
using google::protobuf::DescriptorPool;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::MessageFactory;

namespace {

void EncodeHalf(const Message* m, std::string* type, std::string* bytes) {
  type->clear();
  bytes->clear();
  if (m == nullptr) return;
  *type = m->GetDescriptor()->full_name();
  // Partial: a record missing a required field is still stored rather than lost.
  m->SerializePartialToString(bytes);
}

bool DecodeHalf(const DbIndex& index, const std::string& type, const std::string& bytes,
                std::unique_ptr<Message>* out) {
  out->reset();
  if (type.empty()) return true;
  const Descriptor* desc = DescriptorPool::generated_pool()->FindMessageTypeByName(type);
  const Message* proto = desc ? MessageFactory::generated_factory()->GetPrototype(desc) : nullptr;
  if (proto == nullptr) {
    LOG(ERROR) << "datastore: object " << index.table() << "/" << index.key()
               << " has unknown type " << type;
    return false;
  }
  out->reset(proto->New());
  if (!(*out)->ParsePartialFromString(bytes)) {
    LOG(ERROR) << "datastore: object " << index.table() << "/" << index.key()
               << " holds unparsable " << type << " bytes (" << bytes.size() << " bytes)";
    out->reset();
    return false;
  }
  return true;
}

// The value of `m`'s string field managed_object_id; false when the type has no such field.
bool ReadMorField(const Message* m, std::string* value) {
  if (m == nullptr) return false;
  const FieldDescriptor* f = m->GetDescriptor()->FindFieldByName(kManagedObjectIdField);
  if (f == nullptr || f->is_repeated() || f->cpp_type() != FieldDescriptor::CPPTYPE_STRING) {
    return false;
  }
  *value = m->GetReflection()->GetString(*m, f);
  return true;
}

}  // namespace

void EncodeObject(const Message* cfg, const Message* rt, StoredObject* out) {
  EncodeHalf(cfg, &out->cfg_type, &out->cfg_bytes);
  EncodeHalf(rt, &out->rt_type, &out->rt_bytes);
  out->managed_object_id = ManagedObjectIdOf(cfg, rt);
}

Syserr DecodeObject(const DbIndex& index, const StoredObject& stored, std::unique_ptr<Message>* cfg,
                    std::unique_ptr<Message>* rt) {
  if (DecodeHalf(index, stored.cfg_type, stored.cfg_bytes, cfg) &&
      DecodeHalf(index, stored.rt_type, stored.rt_bytes, rt)) {
    return SYSERR_SUCCESS;
  }
  cfg->reset();
  rt->reset();
  return SYSERR_DB_PARSE_ERROR;
}

std::string ManagedObjectIdOf(const Message* cfg, const Message* rt) {
  std::string value;
  if (ReadMorField(rt, &value) || ReadMorField(cfg, &value)) return value;
  return std::string();
}

std::unique_ptr<Message> CloneMessage(const Message& m) {
  std::unique_ptr<Message> copy(m.New());
  copy->CopyFrom(m);
  return copy;
}

}  // namespace kyv
