// Small helpers of the controller's common library: identifiers, string splitting,
// timestamps and message comparison.
#pragma once

#include <google/protobuf/message.h>

#include <cstdint>
#include <string>
#include <vector>

// Rewrites an object identifier "<kind>-<rest>" into the identifier of the same object under
// another kind: convertuuid("sevm", "vm-12-cloud-1") == "sevm-12-cloud-1". An identifier without
// a "-" (or an empty one) gives an empty string.
std::string convertuuid(const std::string& kind, const std::string& uuid);

// Splits `s` at every occurrence of `delim`, keeping empty parts: "a--b" -> {"a", "", "b"};
// "" -> {""}.
std::vector<std::string> str_split(const std::string& s, const std::string& delim);

// Microseconds since the epoch, from the process clock.
uint64_t get_curr_timestamp();

// Whole seconds from `start` to `end` (both from get_curr_timestamp); 0 when end precedes start.
int64_t diff_timestamp_in_secs(uint64_t start, uint64_t end);

// True when the two messages differ (type or any field, presence included).
bool PbDiffMessages(const google::protobuf::Message& a, const google::protobuf::Message& b);
