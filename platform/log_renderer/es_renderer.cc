#include "platform/log_renderer/es_renderer.h"

#include <vector>

using google::protobuf::EnumValueDescriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;

void ESRenderer::render() {
  writer_.BeginObject();
  bool wrote = WriteFields(parser_.message(), true);
  for (const auto& [name, value] : extra_fields_) {
    if (wrote) writer_.Comma();
    writer_.Key(name);
    writer_.Raw(value);
    wrote = true;
  }
  writer_.EndObject();
}

bool ESRenderer::WriteFields(const Message& message, bool top) {
  const Reflection* reflection = message.GetReflection();
  std::vector<const FieldDescriptor*> fields;
  reflection->ListFields(message, &fields);
  bool wrote = false;
  for (const FieldDescriptor* field : fields) {
    if (top && parser_.excluded(field)) continue;
    if (wrote) writer_.Comma();
    writer_.Key(field->is_extension() ? field->full_name() : field->name());
    if (field->is_repeated()) {
      writer_.BeginArray();
      const int n = reflection->FieldSize(message, field);
      for (int i = 0; i < n; ++i) {
        if (i != 0) writer_.Comma();
        WriteValue(message, *reflection, field, i);
      }
      writer_.EndArray();
    } else {
      WriteValue(message, *reflection, field, -1);
    }
    wrote = true;
  }
  return wrote;
}

void ESRenderer::WriteValue(const Message& message, const Reflection& reflection,
                            const FieldDescriptor* field, int index) {
  const Reflection* r = &reflection;
  const bool rep = index >= 0;
  switch (field->cpp_type()) {
    case FieldDescriptor::CPPTYPE_INT32:
      writer_.Int(rep ? r->GetRepeatedInt32(message, field, index) : r->GetInt32(message, field));
      break;
    case FieldDescriptor::CPPTYPE_INT64:
      writer_.Int(rep ? r->GetRepeatedInt64(message, field, index) : r->GetInt64(message, field));
      break;
    case FieldDescriptor::CPPTYPE_UINT32:
      writer_.Uint(rep ? r->GetRepeatedUInt32(message, field, index)
                       : r->GetUInt32(message, field));
      break;
    case FieldDescriptor::CPPTYPE_UINT64:
      writer_.Uint(rep ? r->GetRepeatedUInt64(message, field, index)
                       : r->GetUInt64(message, field));
      break;
    case FieldDescriptor::CPPTYPE_DOUBLE:
      writer_.Double(rep ? r->GetRepeatedDouble(message, field, index)
                         : r->GetDouble(message, field));
      break;
    case FieldDescriptor::CPPTYPE_FLOAT:
      writer_.Float(rep ? r->GetRepeatedFloat(message, field, index)
                        : r->GetFloat(message, field));
      break;
    case FieldDescriptor::CPPTYPE_BOOL:
      writer_.Bool(rep ? r->GetRepeatedBool(message, field, index) : r->GetBool(message, field));
      break;
    case FieldDescriptor::CPPTYPE_ENUM: {
      const int number = rep ? r->GetRepeatedEnumValue(message, field, index)
                             : r->GetEnumValue(message, field);
      const EnumValueDescriptor* value = field->enum_type()->FindValueByNumber(number);
      if (value != nullptr) {
        writer_.String(value->name());
      } else {
        writer_.Int(number);  // a number without a name in this schema
      }
      break;
    }
    case FieldDescriptor::CPPTYPE_STRING: {
      std::string scratch;
      const std::string& text = rep ? r->GetRepeatedStringReference(message, field, index, &scratch)
                                    : r->GetStringReference(message, field, &scratch);
      if (field->type() == FieldDescriptor::TYPE_BYTES) {
        writer_.Bytes(text);
      } else {
        writer_.String(text);
      }
      break;
    }
    case FieldDescriptor::CPPTYPE_MESSAGE: {
      const Message& sub = rep ? r->GetRepeatedMessage(message, field, index)
                               : r->GetMessage(message, field);
      writer_.BeginObject();
      WriteFields(sub, false);
      writer_.EndObject();
      break;
    }
  }
}
