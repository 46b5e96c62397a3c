// Base of the log renderers: a message plus extra fields, written as one document.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/log_renderer/elastic_search_writer.h"
#include "platform/log_renderer/proto_parser.h"

// Renders the message of a ProtoParser, followed by the fields added with add_field, through an
// ElasticSearchWriter. Subclasses choose the document layout.
class Renderer {
 public:
  // `parser` and `writer` are not owned and must outlive the renderer.
  Renderer(const ProtoParser& parser, ElasticSearchWriter& writer)
      : parser_(parser), writer_(writer) {}
  virtual ~Renderer() = default;

  Renderer(const Renderer&) = delete;
  Renderer& operator=(const Renderer&) = delete;

  // Adds a field written after the message's own fields, in call order. `value` is JSON text
  // (strings carry their own quotes) and is written unchanged; `name` is escaped.
  void add_field(std::string name, std::string value) {
    extra_fields_.emplace_back(std::move(name), std::move(value));
  }

  // Appends the document to the writer's buffer.
  virtual void render() = 0;

 protected:
  const ProtoParser& parser_;
  ElasticSearchWriter& writer_;
  std::vector<std::pair<std::string, std::string>> extra_fields_;
};
