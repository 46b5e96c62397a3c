// The log renderer's view of one log message.
#pragma once

#include <google/protobuf/message.h>

#include <set>
#include <string>

// Wraps the log message that a renderer turns into a document.
class ProtoParser {
 public:
  // Virtual service text reported for event logs.
  static constexpr const char* kAllEvents = "ALL-EVENTS";

  // `message` and `names` are not owned and must outlive the parser. `names` lists top-level
  // fields of the message that are left out of the document (empty: every set field is written).
  ProtoParser(const google::protobuf::Message& message, const std::set<std::string>& names)
      : message_(message), names_(names) {}

  const google::protobuf::Message& message() const { return message_; }

  // True when the top-level field is left out of the document.
  bool excluded(const google::protobuf::FieldDescriptor* field) const {
    return !names_.empty() && names_.count(field->name()) != 0;
  }

  // The virtual service of the log: "ALL-EVENTS" for an EventLog, else the text of the message's
  // string field `virtualservice` ("" when it has no such field).
  std::string getVSFromALog() const;

 private:
  const google::protobuf::Message& message_;
  const std::set<std::string>& names_;
};
