#include "tools/vcmgr_sim/inventory_json.h"

#include <google/protobuf/util/json_util.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "tools/vcmgr_sim/inventory_validator.h"

namespace vcmgr_sim {

namespace {

// Inventory files larger than this are refused rather than read into memory.
constexpr off_t kMaxFileBytes = off_t{1} << 30;

// The parser's message on one line of printable text (it may quote the offending bytes).
std::string Printable(const std::string& msg) {
  std::string out;
  for (unsigned char c : msg) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    if (c < 0x20 || c >= 0x7f) c = '?';
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += static_cast<char>(c);
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// The parser reports "(path): message" or "(path) field: Cannot find field."; turn both into
// "path: message" and "path.field: unknown field".
std::string ReadableParseError(std::string msg) {
  msg = Printable(msg);
  const std::string unknown = ": Cannot find field.";
  if (msg.size() >= unknown.size() && msg.compare(msg.size() - unknown.size(), unknown.size(), unknown) == 0) {
    msg = msg.substr(0, msg.size() - unknown.size());
    std::string path, field = msg;
    if (!msg.empty() && msg[0] == '(') {
      const size_t close = msg.find(") ");
      if (close != std::string::npos) {
        path = msg.substr(1, close - 1);
        field = msg.substr(close + 2);
      }
    }
    return (path.empty() ? field : path + "." + field) + ": unknown field";
  }
  if (!msg.empty() && msg[0] == '(') {
    const size_t close = msg.find("):");
    if (close != std::string::npos) return msg.substr(1, close - 1) + msg.substr(close + 1);
  }
  if (msg.compare(0, 2, ": ") == 0) msg.erase(0, 2);
  return "JSON: " + msg;
}

}  // namespace

bool ParseInventoryJson(const std::string& json, SimInventory* out, std::string* error) {
  google::protobuf::util::JsonParseOptions options;
  options.ignore_unknown_fields = false;
  SimInventory inv;
  const auto status = google::protobuf::util::JsonStringToMessage(json, &inv, options);
  if (!status.ok()) {
    *error = ReadableParseError(std::string(status.message()));
    return false;
  }
  if (!ValidateInventory(&inv, error)) return false;
  *out = std::move(inv);
  return true;
}

bool LoadInventoryFile(const std::string& path, SimInventory* out, std::string* error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = path + ": not a readable file";
    return false;
  }
  if (st.st_size > kMaxFileBytes) {
    *error = path + ": larger than 1 GiB";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in.good() && !in.eof()) {
    *error = path + ": read failed";
    return false;
  }
  if (!ParseInventoryJson(text.str(), out, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}

bool InventoryToJson(const SimInventory& inv, std::string* out, std::string* error) {
  google::protobuf::util::JsonPrintOptions options;
  options.add_whitespace = true;
  options.preserve_proto_field_names = true;
  const auto status = google::protobuf::util::MessageToJsonString(inv, out, options);
  if (!status.ok()) {
    *error = std::string(status.message());
    return false;
  }
  return true;
}

}  // namespace vcmgr_sim
