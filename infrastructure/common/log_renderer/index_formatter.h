// Per-record steps of the indexing loop that do not need a worker.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>

#include "proto/log.pb.h"

namespace kyv::infra::log {

// Before an event is indexed: an event without a tenant (or tenant name) takes the message's
// non-empty one, and an SE clock jump (drift_time, microseconds) moves the seconds of
// report_timestamp back by drift_time / 1000000, keeping its lower 32 bits.
void InheritTenantAndDrift(const LogMessage& message, EventLog* event);

// Sets the event's internal flag and pages from the options of its EventId: internal when the id
// is marked event_internal (`internal_ids` caches those ids, filled when empty); the pages of its
// event_page_* options, "EVENT_PAGE_ALL", the generic pages and, for configuration events, the
// audit page, each added once.
void AddEventFlagsAndPages(EventLog* event, std::unordered_set<int>* internal_ids);

}  // namespace kyv::infra::log
