// Reading fields of a protobuf message by the names used in event description templates.
#pragma once

#include <google/protobuf/message.h>
#include <google/protobuf/reflection.h>

#include <string>
#include <vector>

namespace kyv::infra::log {

// The text of the field that `path` names in `message`, as event description templates name
// their arguments ("pb.pool", "pb.host_name[0]", "pb.server.hostname", "pb.name.lower()"):
//
//  1. The path up to and including its first "." is dropped (the template's variable); the
//     rest is the name.
//  2. A name without "." is a field; a suffix from "[" on selects element 0 of a repeated
//     field. int32 "%d", int64 "%ld", uint32 "%u", uint64 "%lu", double and float "%f", enum
//     the value's name, string the text.
//  3. A name with exactly one "." that contains "lower": the string field before the "." (with
//     the "[" rule), lower-cased (ASCII).
//  4. "[x.health_monitor for x in pb.server.shm]" gives "".
//  5. Otherwise the part before the first "." is a message field (the "[" rule again) and the
//     value is get_field_value of that sub-message with the rest of the name as its path.
//     The nested call drops that path's first component in turn (step 1): "pb.server.ip.addr"
//     reads `addr` of `server`. Templates are written for this; keep it.
//
// "" when a named field does not exist, is a bool, a message where a value is wanted, a
// non-message where a message is wanted, a non-string field with "lower", or an empty repeated
// field. A repeated field without "[" reads element 0 as well. Null `message` gives "".
std::string get_field_value(const google::protobuf::Message* message, const std::string& path);

// Every value of the repeated field `field` of `message`, in order. T is the field's C++ type
// (int32_t, uint32_t, int64_t, uint64_t, double, float, bool, std::string); `field` must be a
// repeated field of that type.
template <typename T>
std::vector<T> get_repeated_value(const google::protobuf::FieldDescriptor* field,
                                  const google::protobuf::Reflection* reflection,
                                  const google::protobuf::Message& message) {
  const auto values = reflection->GetRepeatedFieldRef<T>(message, field);
  return std::vector<T>(values.begin(), values.end());
}

}  // namespace kyv::infra::log
