#include "infrastructure/common/log_renderer/field_value.h"

#include <fmt/format.h>

#include <algorithm>

namespace kyv::infra::log {

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;

namespace {

constexpr std::string_view kShmComprehension = "[x.health_monitor for x in pb.server.shm]";

// A field of a message and the element to read: -1 for a singular field.
struct FieldRef {
  const FieldDescriptor* field = nullptr;
  int index = -1;
};

// The field named by `name` (a suffix from "[" cut off) in `message`; no field when the message
// lacks it or it is repeated and empty.
FieldRef Locate(const Message& message, std::string_view name) {
  const size_t bracket = name.find('[');
  if (bracket != std::string_view::npos) name = name.substr(0, bracket);
  FieldRef ref;
  ref.field = message.GetDescriptor()->FindFieldByName(std::string(name));
  if (ref.field == nullptr) return ref;
  if (ref.field->is_repeated()) {
    if (message.GetReflection()->FieldSize(message, ref.field) == 0) ref.field = nullptr;
    ref.index = 0;
  }
  return ref;
}

std::string StringOf(const Message& m, const FieldRef& ref) {
  const Reflection* r = m.GetReflection();
  return ref.index < 0 ? r->GetString(m, ref.field) : r->GetRepeatedString(m, ref.field, ref.index);
}

std::string ScalarText(const Message& m, const FieldRef& ref) {
  const Reflection* r = m.GetReflection();
  const FieldDescriptor* f = ref.field;
  const bool rep = ref.index >= 0;
  const int i = ref.index;
  switch (f->cpp_type()) {
    case FieldDescriptor::CPPTYPE_INT32:
      return fmt::format_int(rep ? r->GetRepeatedInt32(m, f, i) : r->GetInt32(m, f)).str();
    case FieldDescriptor::CPPTYPE_INT64:
      return fmt::format_int(rep ? r->GetRepeatedInt64(m, f, i) : r->GetInt64(m, f)).str();
    case FieldDescriptor::CPPTYPE_UINT32:
      return fmt::format_int(rep ? r->GetRepeatedUInt32(m, f, i) : r->GetUInt32(m, f)).str();
    case FieldDescriptor::CPPTYPE_UINT64:
      return fmt::format_int(rep ? r->GetRepeatedUInt64(m, f, i) : r->GetUInt64(m, f)).str();
    case FieldDescriptor::CPPTYPE_DOUBLE:
      return fmt::format("{:f}", rep ? r->GetRepeatedDouble(m, f, i) : r->GetDouble(m, f));
    case FieldDescriptor::CPPTYPE_FLOAT:
      return fmt::format("{:f}", rep ? r->GetRepeatedFloat(m, f, i) : r->GetFloat(m, f));
    case FieldDescriptor::CPPTYPE_ENUM:
      return (rep ? r->GetRepeatedEnum(m, f, i) : r->GetEnum(m, f))->name();
    case FieldDescriptor::CPPTYPE_STRING:
      return StringOf(m, ref);
    case FieldDescriptor::CPPTYPE_BOOL:
    case FieldDescriptor::CPPTYPE_MESSAGE:
      break;
  }
  return "";
}

}  // namespace

std::string get_field_value(const Message* message, const std::string& path) {
  if (message == nullptr) return "";
  std::string_view name = path;
  const size_t first = name.find('.');
  if (first != std::string_view::npos) name.remove_prefix(first + 1);

  const size_t dot = name.find('.');
  if (dot == std::string_view::npos) {
    const FieldRef ref = Locate(*message, name);
    return ref.field == nullptr ? "" : ScalarText(*message, ref);
  }
  if (name.find('.', dot + 1) == std::string_view::npos &&
      name.find("lower") != std::string_view::npos) {
    const FieldRef ref = Locate(*message, name.substr(0, dot));
    if (ref.field == nullptr || ref.field->cpp_type() != FieldDescriptor::CPPTYPE_STRING) return "";
    std::string text = StringOf(*message, ref);
    std::transform(text.begin(), text.end(), text.begin(), [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return text;
  }
  if (name == kShmComprehension) return "";

  const FieldRef ref = Locate(*message, name.substr(0, dot));
  if (ref.field == nullptr || ref.field->cpp_type() != FieldDescriptor::CPPTYPE_MESSAGE) return "";
  const Reflection* r = message->GetReflection();
  const Message& sub = ref.index < 0 ? r->GetMessage(*message, ref.field)
                                     : r->GetRepeatedMessage(*message, ref.field, ref.index);
  return get_field_value(&sub, std::string(name.substr(dot + 1)));
}

}  // namespace kyv::infra::log
