// The event channel of a controller service.
//
// GenerateEvent wraps the event in an EventLog inside a LogMessage and appends it, length-prefixed
// (4-byte big-endian length, then the serialized LogMessage), to the controller's event log file:
// the format the log indexer reads. The last events of the process are also kept in a bounded
// in-memory tail for tests and the command line. A file that cannot be written costs a warning,
// never the event's place in the tail.
#pragma once

#include <gflags/gflags.h>

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "proto/event_id.pb.h"
#include "proto/events.pb.h"
#include "proto/log.pb.h"
#include "proto/object_type.pb.h"
#include "proto/syserr.pb.h"

DECLARE_string(event_log_file);

class EventApi {
 public:
  // `svc_id` is the raising service's ControllerServicesId.
  explicit EventApi(int svc_id);

  // Records one event. `info` (optional, not owned) adds the tenant and related object uuids.
  // `internal` marks events the controller raises for its own use. Returns SYSERR_SUCCESS once
  // the event is in the tail, whatever happened to the file write (logged).
  Syserr GenerateEvent(KyvObjectType obj_type, const std::string& obj_uuid, EventId event_id,
                       EventModule module, const EventDetails& details, EventApiInfo* info,
                       bool internal);

  int svc_id() const { return svc_id_; }

 private:
  int svc_id_;
};

// The process-wide sink behind every EventApi.
class EventSink {
 public:
  static constexpr size_t kTailSize = 1000;
  static EventSink& Get();

  // Appends to the file named by --event_log_file (opened on first use; reopened when the flag
  // changes) and to the tail.
  void Append(const EventLog& event);
  // The newest events, oldest first; at most kTailSize.
  const std::deque<EventLog>& tail() const { return tail_; }
  void ClearTail() { tail_.clear(); }

 private:
  EventSink() = default;
  ~EventSink();
  bool EnsureFile();
  std::deque<EventLog> tail_;
  FILE* file_ = nullptr;
  std::string file_path_;
  bool warned_ = false;
};
