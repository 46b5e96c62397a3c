// JSON text writer of the log renderer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Appends JSON tokens to a caller-owned string. The writer keeps no nesting state: the caller
// emits keys, values and separators in a valid order (ESRenderer does). Text written through Key
// and String is escaped and always valid UTF-8, whatever bytes it was given.
class ElasticSearchWriter {
 public:
  // `out` is not owned and must outlive the writer; output is appended to what it holds.
  explicit ElasticSearchWriter(std::string* out) : out_(out) {}

  std::string* buffer() const { return out_; }

  void BeginObject() { out_->push_back('{'); }
  void EndObject() { out_->push_back('}'); }
  void BeginArray() { out_->push_back('['); }
  void EndArray() { out_->push_back(']'); }
  void Comma() { out_->push_back(','); }

  // Writes "name": (escaped like String).
  void Key(std::string_view name);
  // Writes a quoted, escaped string.
  void String(std::string_view text);
  // Writes the bytes as a quoted standard base64 text with padding.
  void Bytes(std::string_view data);
  void Int(int64_t value);
  void Uint(uint64_t value);
  // Finite values in their shortest round-trip form; NaN and infinities as the strings "NaN",
  // "Infinity" and "-Infinity" (JSON has no literal for them).
  void Double(double value);
  void Float(float value);
  void Bool(bool value) { out_->append(value ? "true" : "false"); }
  // Appends `json` unchanged; the caller vouches for it.
  void Raw(std::string_view json) { out_->append(json); }

  // Appends `text` escaped for use inside a JSON string, without the quotes. Control characters
  // become escapes, and every byte that is not part of a well-formed UTF-8 sequence becomes
  // U+FFFD, so the result is always valid JSON string content.
  static void AppendEscaped(std::string* out, std::string_view text);

 private:
  std::string* out_;
};
