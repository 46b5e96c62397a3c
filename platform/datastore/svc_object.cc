#include "platform/datastore/svc_object.h"

#include <glog/logging.h>
#include <google/protobuf/descriptor.h>

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;

namespace {

// The value of `m`'s singular string field "uuid", or "" when it has none.
std::string UuidOf(const Message* m) {
  if (m == nullptr) return std::string();
  const FieldDescriptor* f = m->GetDescriptor()->FindFieldByName("uuid");
  if (f == nullptr || f->is_repeated() || f->cpp_type() != FieldDescriptor::CPPTYPE_STRING) {
    return std::string();
  }
  return m->GetReflection()->GetString(*m, f);
}

}  // namespace

SvcObject::~SvcObject() = default;

void SvcObject::set_obj(Message* obj, Message* obj_runtime) {
  // Release first what is passed again, so that re-attaching a message never frees it.
  if (obj_.get() == obj) obj_.release();
  if (obj_runtime_.get() == obj_runtime) obj_runtime_.release();
  if (obj_.get() == obj_runtime) obj_.release();
  if (obj_runtime_.get() == obj) obj_runtime_.release();
  obj_.reset(obj);
  obj_runtime_.reset(obj_runtime);
}

bool SvcObject::set_transaction(Transaction* txn) {
  if (txn_ != nullptr && txn_ != txn) {
    LOG(ERROR) << "datastore: object " << index_.table() << "/" << index_.key()
               << " is already bound to another transaction";
    return false;
  }
  txn_ = txn;
  return true;
}

void SvcObject::PbGetBaseObject(const Message* msg) {
  if (msg == nullptr) return;
  base_type_ = msg->GetDescriptor()->name();
  base_uuid_ = UuidOf(msg);
}

DbIndex SvcObject::DerivedIndex() const {
  if (!base_type_.empty() && !base_uuid_.empty()) {
    return DbIndex(db_table_name_from_pb(base_type_), base_uuid_);
  }
  for (const Message* m : {obj_runtime(), obj()}) {
    std::string uuid = UuidOf(m);
    if (!uuid.empty()) return DbIndex(db_table_name_from_pb(m->GetDescriptor()->name()), uuid);
  }
  return DbIndex();
}
