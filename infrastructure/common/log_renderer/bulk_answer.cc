#include "infrastructure/common/log_renderer/bulk_answer.h"

#include <json/json.h>

#include <memory>

namespace kyv::infra::log {

namespace {

uint64_t StatusOf(const Json::Value& item) {
  const Json::Value* holder = &item;
  if (item.isObject() && !item.isMember("status") && item.size() == 1) {
    holder = &*item.begin();  // {"index": {...}}
  }
  if (!holder->isObject()) return 0;
  const Json::Value& status = (*holder)["status"];
  return status.isUInt64() ? status.asUInt64() : 0;
}

}  // namespace

BulkTally ReadBulkAnswer(std::string_view body) {
  BulkTally tally;
  Json::CharReaderBuilder builder;
  builder["collectComments"] = false;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string errors;
  if (!reader->parse(body.data(), body.data() + body.size(), &root, &errors)) {
    tally.error = "answer is not JSON: " + errors;
    return tally;
  }
  if (!root.isObject()) {
    tally.error = "answer is not a JSON object";
    return tally;
  }
  tally.parsed = true;
  const Json::Value& failed = root["errors"];
  if (failed.isBool() && failed.asBool()) return tally;
  const Json::Value& items = root["items"];
  if (!items.isArray()) return tally;
  for (const Json::Value& item : items) {
    const uint64_t status = StatusOf(item);
    if (status == 409) continue;
    if (status == 404) {
      tally.not_found = true;
      break;
    }
    ++tally.accepted;
  }
  return tally;
}

}  // namespace kyv::infra::log
