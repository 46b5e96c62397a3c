#include "platform/events/event_api.h"

#include <glog/logging.h>

#include "platform/common/clock.h"

DEFINE_string(event_log_file, "/var/lib/kyv/log/events.log",
              "File to which controller events are appended (length-prefixed log records)");

EventApi::EventApi(int svc_id) : svc_id_(svc_id) {}

Syserr EventApi::GenerateEvent(KyvObjectType obj_type, const std::string& obj_uuid,
                               EventId event_id, EventModule module, const EventDetails& details,
                               EventApiInfo* info, bool internal) {
  EventLog ev;
  const int64_t now_ns = kyv::GetClock().NowNanos();
  // Seconds in the upper 32 bits, microseconds within the second below.
  uint64_t secs = static_cast<uint64_t>(now_ns / 1000000000);
  uint64_t usecs = static_cast<uint64_t>((now_ns / 1000) % 1000000);
  ev.set_report_timestamp((secs << 32) | usecs);
  ev.set_obj_type(obj_type);
  ev.set_obj_uuid(obj_uuid);
  ev.set_event_id(event_id);
  ev.set_module(module);
  ev.set_internal(internal ? EVENT_INTERNAL : EVENT_EXTERNAL);
  *ev.mutable_event_details() = details;
  if (info != nullptr) {
    if (info->has_tenant()) ev.set_tenant(info->tenant());
    for (const auto& uuid : info->related_uuids()) ev.add_related_uuids(uuid);
  }
  EventSink::Get().Append(ev);
  return SYSERR_SUCCESS;
}

EventSink& EventSink::Get() {
  static EventSink* sink = new EventSink();  // lives for the whole process
  return *sink;
}

EventSink::~EventSink() {
  if (file_ != nullptr) fclose(file_);
}

bool EventSink::EnsureFile() {
  if (file_ != nullptr && file_path_ == FLAGS_event_log_file) return true;
  if (file_ != nullptr) {
    fclose(file_);
    file_ = nullptr;
  }
  file_path_ = FLAGS_event_log_file;
  if (file_path_.empty()) return false;
  file_ = fopen(file_path_.c_str(), "ab");
  if (file_ == nullptr && !warned_) {
    LOG(WARNING) << "Cannot open the event log file " << file_path_ << "; events are kept in memory only";
    warned_ = true;
  }
  return file_ != nullptr;
}

void EventSink::Append(const EventLog& event) {
  tail_.push_back(event);
  while (tail_.size() > kTailSize) tail_.pop_front();

  if (!EnsureFile()) return;
  LogMessage msg;
  *msg.add_eventlogs() = event;
  std::string bytes;
  msg.SerializeToString(&bytes);
  uint32_t len = static_cast<uint32_t>(bytes.size());
  unsigned char prefix[4] = {static_cast<unsigned char>(len >> 24), static_cast<unsigned char>(len >> 16),
                             static_cast<unsigned char>(len >> 8), static_cast<unsigned char>(len)};
  // One write per record, so a reader never sees a prefix without its body for long.
  std::string record(reinterpret_cast<char*>(prefix), 4);
  record += bytes;
  if (fwrite(record.data(), 1, record.size(), file_) != record.size() || fflush(file_) != 0) {
    LOG(WARNING) << "Could not append an event to " << file_path_;
  }
}
