// Conversion between protobuf message pairs and StoredObject: type names, bytes and the
// managed_object_id index value. Decoding never trusts stored data: an unknown type name or
// unparsable bytes give SYSERR_DB_PARSE_ERROR and a log line.
#pragma once

#include <google/protobuf/message.h>

#include <memory>
#include <string>

#include "platform/datastore/db_index.h"
#include "platform/datastore/storage.h"

namespace kyv {

// Fills the type names, bytes and managed_object_id of *out from the two halves (either may
// be null: that half is stored as absent). write_time is left as it is.
void EncodeObject(const google::protobuf::Message* cfg, const google::protobuf::Message* rt,
                  StoredObject* out);

// Builds new messages from a stored object. On success *cfg and *rt own the halves (null for an
// absent half). On failure both are reset, SYSERR_DB_PARSE_ERROR is returned and a line naming
// `index` is logged.
Syserr DecodeObject(const DbIndex& index, const StoredObject& stored,
                    std::unique_ptr<google::protobuf::Message>* cfg,
                    std::unique_ptr<google::protobuf::Message>* rt);

// The value of the string field "managed_object_id" of the runtime half when its type has
// that field, else of the configuration half when it has it, else "".
std::string ManagedObjectIdOf(const google::protobuf::Message* cfg,
                              const google::protobuf::Message* rt);

// A new message of the same type holding a copy of `m`. The caller owns it.
std::unique_ptr<google::protobuf::Message> CloneMessage(const google::protobuf::Message& m);

}  // namespace kyv
