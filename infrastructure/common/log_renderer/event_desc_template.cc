#include "infrastructure/common/log_renderer/event_desc_template.h"

#include <fmt/args.h>
#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <iostream>
#include <stdexcept>
#include <vector>

#include "infrastructure/common/log_renderer/field_value.h"

namespace kyv::infra::log {

namespace {

constexpr std::string_view kNumericField = ":.1f";

void ReplaceAll(std::string* text, std::string_view from, std::string_view to) {
  for (size_t pos = text->find(from); pos != std::string::npos;
       pos = text->find(from, pos + to.size())) {
    text->replace(pos, from.size(), to);
  }
}

std::string_view Trim(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string_view::npos) return {};
  const size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

bool HasConversion(const std::string& tmpl) {
  for (const char* c : {"%s", "%d", "%.1f", "%.1d", "%(", "% ("}) {
    if (tmpl.find(c) != std::string::npos) return true;
  }
  return false;
}

// For each replacement field of `format` in order, whether it is "{:.1f}". Escaped braces are
// skipped; anything else is left for the formatting library to judge.
std::vector<bool> NumericFields(const std::string& format) {
  std::vector<bool> numeric;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '{') continue;
    if (i + 1 < format.size() && format[i + 1] == '{') {
      ++i;
      continue;
    }
    const size_t close = format.find('}', i);
    if (close == std::string::npos) break;
    numeric.push_back(std::string_view(format).substr(i + 1, close - i - 1) == kNumericField);
    i = close;
  }
  return numeric;
}

double ToNumber(std::string_view text) {
  text = Trim(text);
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
    throw std::invalid_argument(
        fmt::format("\"{}\" is not a number for {{{}}}", text, kNumericField));
  }
  return value;
}

// The format and the argument paths of a template that has a conversion.
void Parse(const std::string& tmpl, std::string* format, std::vector<std::string>* args) {
  const size_t open_quote = tmpl.find('\'');
  const size_t close_quote =
      open_quote == std::string::npos ? std::string::npos : tmpl.find('\'', open_quote + 1);
  if (close_quote == std::string::npos) throw std::invalid_argument("no quoted format");
  *format = tmpl.substr(open_quote + 1, close_quote - open_quote - 1);
  ReplaceAll(format, "%s", "{}");
  ReplaceAll(format, "%d", "{}");
  ReplaceAll(format, "%.1f", "{:.1f}");
  ReplaceAll(format, "%.1d", "{}");

  const size_t open = tmpl.find('(', close_quote + 1);
  if (open != std::string::npos) {
    const size_t close = tmpl.rfind(')');
    if (close == std::string::npos || close < open) {
      throw std::invalid_argument("argument list without \")\"");
    }
    std::string_view list = std::string_view(tmpl).substr(open + 1, close - open - 1);
    for (;;) {
      const size_t comma = list.find(',');
      args->emplace_back(Trim(list.substr(0, comma)));
      if (comma == std::string_view::npos) break;
      list.remove_prefix(comma + 1);
    }
    return;
  }
  const size_t percent = tmpl.find('%', close_quote + 1);
  if (percent == std::string::npos) throw std::invalid_argument("no arguments after the format");
  args->emplace_back(Trim(std::string_view(tmpl).substr(percent + 1)));
}

}  // namespace

std::string process_event_desc_str(const google::protobuf::Message* details,
                                   const std::string& tmpl) {
  if (!HasConversion(tmpl)) return tmpl;
  try {
    std::string format;
    std::vector<std::string> paths;
    Parse(tmpl, &format, &paths);
    const std::vector<bool> numeric = NumericFields(format);
    fmt::dynamic_format_arg_store<fmt::format_context> store;
    for (size_t i = 0; i < paths.size(); ++i) {
      std::string value = get_field_value(details, paths[i]);
      if (i < numeric.size() && numeric[i]) {
        store.push_back(ToNumber(value));
      } else {
        store.push_back(std::move(value));
      }
    }
    return fmt::vformat(format, store);
  } catch (const std::exception& e) {
    std::cout << "[Error] when proceesing event_desc: " << e.what() << std::endl;
    return e.what();
  }
}

}  // namespace kyv::infra::log
