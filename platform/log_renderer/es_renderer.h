// The search-index document layout of a log message.
#pragma once

#include <google/protobuf/message.h>

#include "platform/log_renderer/renderer.h"

// Writes the message as one JSON object without a trailing line feed: each set field under its
// field name in field-number order (enums by value name, nested messages as objects, repeated
// fields as arrays, bytes in base64), then the extra fields in the order they were added.
class ESRenderer : public Renderer {
 public:
  using Renderer::Renderer;

  void render() override;

 private:
  // Writes the fields of `message` (not the braces); `top` applies the parser's exclusions.
  // Returns true when something was written.
  bool WriteFields(const google::protobuf::Message& message, bool top);
  // Writes one value of `field`: element `index` of a repeated field, or -1 for a singular one.
  void WriteValue(const google::protobuf::Message& message,
                  const google::protobuf::Reflection& reflection,
                  const google::protobuf::FieldDescriptor* field, int index);
};
