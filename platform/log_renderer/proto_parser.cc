#include "platform/log_renderer/proto_parser.h"

using google::protobuf::FieldDescriptor;

std::string ProtoParser::getVSFromALog() const {
  const auto* descriptor = message_.GetDescriptor();
  if (descriptor->full_name() == "EventLog") return kAllEvents;
  const FieldDescriptor* field = descriptor->FindFieldByName("virtualservice");
  if (field == nullptr || field->is_repeated() ||
      field->cpp_type() != FieldDescriptor::CPPTYPE_STRING) {
    return "";
  }
  return message_.GetReflection()->GetString(message_, field);
}
