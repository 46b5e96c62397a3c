#include "platform/common/common_utils.h"

#include <google/protobuf/util/message_differencer.h>

#include "platform/common/clock.h"

std::string convertuuid(const std::string& kind, const std::string& uuid) {
  size_t dash = uuid.find('-');
  if (dash == std::string::npos) return "";
  return kind + uuid.substr(dash);
}

std::vector<std::string> str_split(const std::string& s, const std::string& delim) {
  std::vector<std::string> parts;
  if (delim.empty()) {
    parts.push_back(s);
    return parts;
  }
  size_t start = 0;
  for (;;) {
    size_t pos = s.find(delim, start);
    if (pos == std::string::npos) {
      parts.push_back(s.substr(start));
      return parts;
    }
    parts.push_back(s.substr(start, pos - start));
    start = pos + delim.size();
  }
}

uint64_t get_curr_timestamp() { return static_cast<uint64_t>(kyv::GetClock().NowNanos() / 1000); }

int64_t diff_timestamp_in_secs(uint64_t start, uint64_t end) {
  if (end <= start) return 0;
  return static_cast<int64_t>((end - start) / 1000000);
}

bool PbDiffMessages(const google::protobuf::Message& a, const google::protobuf::Message& b) {
  if (a.GetDescriptor() != b.GetDescriptor()) return true;
  return !google::protobuf::util::MessageDifferencer::Equals(a, b);
}
