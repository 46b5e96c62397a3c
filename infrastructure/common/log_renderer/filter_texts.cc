#include "infrastructure/common/log_renderer/filter_texts.h"

#include <fmt/format.h>

#include "proto/log.pb.h"
#include "proto/options.pb.h"

namespace kyv::infra::log {

namespace {

void AppendText(int value, const std::map<int, std::string>& texts, std::string* out) {
  if (!out->empty()) *out += ", ";
  auto it = texts.find(value);
  if (it != texts.end()) {
    *out += it->second;
  } else {
    *out += fmt::format_int(value).c_str();
  }
}

}  // namespace

std::map<int, std::string> get_bitmap_texts(const std::string& enum_name) {
  const google::protobuf::EnumDescriptor* e = nullptr;
  if (enum_name == "_KYVDEFINEDFILTERS") {
    e = KyvDefinedFilters_descriptor();
  } else if (enum_name == "_OLDKYVDEFINEDFILTERS") {
    e = OldKyvDefinedFilters_descriptor();
  }
  std::map<int, std::string> texts;
  for (int i = 0; e != nullptr && i < e->value_count(); ++i) {
    const auto& options = e->value(i)->options();
    if (options.HasExtension(text))
      texts.emplace(e->value(i)->number(), options.GetExtension(text));
  }
  return texts;
}

std::string BitmapString(uint64_t bitmap, const std::map<int, std::string>& texts) {
  const google::protobuf::EnumDescriptor* e = OldKyvDefinedFilters_descriptor();
  std::string out;
  for (int i = 0; i < e->value_count(); ++i) {
    const int n = e->value(i)->number();
    if ((bitmap >> (static_cast<unsigned>(n) % 64)) & 1) AppendText(n, texts, &out);
  }
  return out;
}

std::string FilterListText(const google::protobuf::RepeatedField<int>& values,
                           const std::map<int, std::string>& texts) {
  std::string out;
  for (int value : values) AppendText(value, texts, &out);
  return out;
}

}  // namespace kyv::infra::log
