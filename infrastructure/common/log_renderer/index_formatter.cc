// The indexing loop of IndexWorker: reading records, rendering documents, posting batches.

#include "infrastructure/common/log_renderer/index_formatter.h"

#include <fmt/format.h>

#include <algorithm>
#include <iostream>
#include <new>
#include <stdexcept>

#include "infrastructure/common/log_renderer/bulk_answer.h"
#include "infrastructure/common/log_renderer/doc_id.h"
#include "infrastructure/common/log_renderer/event_desc_func.h"
#include "infrastructure/common/log_renderer/field_value.h"
#include "infrastructure/common/log_renderer/trailsift.h"
#include "platform/log_renderer/elastic_search_writer.h"
#include "platform/log_renderer/es_renderer.h"
#include "proto/event_id.pb.h"
#include "proto/events.pb.h"
#include "proto/options.pb.h"

namespace kyv::infra::log {

using google::protobuf::EnumValueDescriptor;
using google::protobuf::EnumValueOptions;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;

namespace {

// Minimum capacity of the shared document buffer.
constexpr size_t kDocBufferCapacity = 65536;

// A batch: inline room for small requests, grown as documents are added.
using BatchBuffer = fmt::basic_memory_buffer<char, 250>;

void Append(BatchBuffer& batch, std::string_view text) {
  batch.append(text.data(), text.data() + text.size());
}

void AddPage(EventLog* event, EventPage page) {
  const std::string& name = EventPage_Name(page);
  const auto& pages = event->event_pages();
  if (std::find(pages.begin(), pages.end(), name) == pages.end()) event->add_event_pages(name);
}

// The value (or each value of a repeated field) with "%d", "%u" or "%lu" and a blank after it.
template <typename T>
void AppendNumbers(const Message& message, const FieldDescriptor* field,
                   T (google::protobuf::Reflection::*get)(const Message&, const FieldDescriptor*)
                       const,
                   std::string* out) {
  const auto* r = message.GetReflection();
  const auto append = [out](T value) {
    *out += fmt::format_int(value).c_str();
    out->push_back(' ');
  };
  if (!field->is_repeated()) {
    append((r->*get)(message, field));
    return;
  }
  for (T value : get_repeated_value<T>(field, r, message)) append(value);
}

bool EndsWith(const std::string& s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(),
                                                suffix.data(), suffix.size()) == 0;
}

// "S<service_engine>S<vcpu_id>S<adf>S<udf and not adf>", quoted.
template <typename L>
std::string HelperText(const L& log) {
  std::string text = "\"S";
  ElasticSearchWriter::AppendEscaped(&text, log.service_engine());
  text += fmt::format("S{}S{}S{}\"", log.vcpu_id(), log.adf() ? 1 : 0,
                      (log.udf() && !log.adf()) ? 1 : 0);
  return text;
}

}  // namespace

void InheritTenantAndDrift(const LogMessage& message, EventLog* event) {
  if (event->tenant().empty() && !message.tenant().empty()) event->set_tenant(message.tenant());
  if (event->tenant_name().empty() && !message.tenant_name().empty()) {
    event->set_tenant_name(message.tenant_name());
  }
  if (event->has_event_details() &&
      event->event_details().has_se_discontinuous_time_change_event_details()) {
    const int64_t drift =
        event->event_details().se_discontinuous_time_change_event_details().drift_time();
    const uint64_t ts = event->report_timestamp();
    // Wrapping 32-bit arithmetic on the seconds, as the field holds them.
    const uint32_t secs = static_cast<uint32_t>(ts >> 32) - static_cast<uint32_t>(drift / 1000000);
    event->set_report_timestamp((uint64_t{secs} << 32) | (ts & 0xFFFFFFFFull));
  }
}

void AddEventFlagsAndPages(EventLog* event, std::unordered_set<int>* internal_ids) {
  const auto* ids = EventId_descriptor();
  if (internal_ids->empty()) {
    for (int i = 0; i < ids->value_count(); ++i) {
      const EnumValueOptions& options = ids->value(i)->options();
      if (options.HasExtension(event_internal) && options.GetExtension(event_internal)) {
        internal_ids->insert(ids->value(i)->number());
      }
    }
  }
  event->set_internal(internal_ids->count(event->event_id()) ? EVENT_INTERNAL : EVENT_EXTERNAL);

  const EnumValueDescriptor* value = ids->FindValueByNumber(event->event_id());
  const EnumValueOptions& options =
      value != nullptr ? value->options() : EnumValueOptions::default_instance();
  if (options.HasExtension(event_page_se)) AddPage(event, EVENT_PAGE_SE);
  if (options.HasExtension(event_page_pool)) AddPage(event, EVENT_PAGE_POOL);
  if (options.HasExtension(event_page_vs)) AddPage(event, EVENT_PAGE_VS);
  if (options.HasExtension(event_page_cntlr)) AddPage(event, EVENT_PAGE_CNTLR);
  if (options.HasExtension(event_page_audit_trail)) AddPage(event, EVENT_PAGE_AUDIT);
  if (options.HasExtension(ignore_event_details)) event->set_ignore_event_details_display(true);
  if (options.HasExtension(is_security_event)) {
    event->set_is_security_event(options.GetExtension(is_security_event));
  }
  AddPage(event, EVENT_PAGE_ALL);
  if (options.HasExtension(generic_event)) {
    AddPage(event, EVENT_PAGE_VS);
    AddPage(event, EVENT_PAGE_POOL);
    AddPage(event, EVENT_PAGE_SE);
  }
  if (event->event_id() == CONFIG_CREATE || event->event_id() == CONFIG_UPDATE ||
      event->event_id() == CONFIG_DELETE) {
    AddPage(event, EVENT_PAGE_AUDIT);
  }
}

IndexRet IndexWorker::run() {
  SharedState& state = shared();
  index_file_->seekg(file_pos_);
  uint64_t pos = file_pos_;  // where the stream stands
  LogMessage message;        // reused: parsing keeps its allocations
  for (;;) {
    if (!index_file_->good()) {
      std::cerr << "Invalid file name " << std::endl;
      return response_;
    }
    // What a batch that never reaches the index must give back.
    const uint64_t batch_start = pos;
    const size_t total_read_before = total_read_;
    const uint64_t max_ts_before = max_ts;
    const uint64_t min_ts_before = min_ts;
    const IndexRet response_before = response_;

    BatchBuffer batch;
    uint32_t count = 0;
    size_t last_good = 0;
    BatchEnd end = BatchEnd::kMore;
    while (end == BatchEnd::kMore) {
      const uint64_t record_pos = pos;
      const uint64_t ts_max = max_ts;
      const uint64_t ts_min = min_ts;
      try {
        RecordRead record;
        SelectedLog selected;
        end = get_log_from_file(pos, &record, &message, &selected);
        pos = record.next;
        if (end != BatchEnd::kMore) break;
        state.doc_buffer.clear();
        if (state.doc_buffer.capacity() < kDocBufferCapacity) {
          state.doc_buffer.reserve(kDocBufferCapacity);
        }
        uint64_t id = 0;
        const std::string& doc =
            process_alog(state.doc_buffer, selected, &id, static_cast<uint32_t>(record.pos),
                         record.length);
        Append(batch, action_prefix_);
        Append(batch, fmt::format_int(id).c_str());
        Append(batch, "\"}}\n");
        Append(batch, doc);
        Append(batch, "\n");
      } catch (const std::exception& e) {
        if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) {
          std::cerr << "stopped as bad_alloc" << std::endl;
        } else {
          std::cerr << "stopped as exception: " << e.what() << std::endl;
          std::cout << "exception happened for file " << file_name_ << std::endl;
        }
        // Undo the record: the next batch starts at it again.
        max_ts = ts_max;
        min_ts = ts_min;
        index_file_->clear();
        index_file_->seekg(static_cast<std::streamoff>(record_pos));
        pos = record_pos;
        batch.resize(last_good);
        end = BatchEnd::kStop;
        break;
      }
      ++count;
      ++total_read_;
      last_good = batch.size();
      if (limit_ == 0 || total_read_ >= limit_ || count == maxlogs_per_insert_) break;
    }

    response_.max_ts = max_ts;
    response_.min_ts = min_ts;
    response_.read_pos = static_cast<uint32_t>(pos);
    if (count == 0) return response_;

    if (!PostBatch(batch.data(), batch.size())) {
      // Nothing of this batch reached the index: the next run sends it again.
      total_read_ = total_read_before;
      max_ts = max_ts_before;
      min_ts = min_ts_before;
      response_ = response_before;
      response_.read_pos = static_cast<uint32_t>(batch_start);
      return response_;
    }
    if (end == BatchEnd::kStopRun) return response_;
    if (limit_ == 0 || total_read_ >= limit_) return response_;
  }
}

IndexWorker::BatchEnd IndexWorker::get_log_from_file(uint64_t pos, RecordRead* record,
                                                     LogMessage* message, SelectedLog* selected) {
  SharedState& state = shared();
  *record = ReadRecord(*index_file_, pos, filesize_, &state.scratch);
  switch (record->status) {
    case RecordStatus::kEnd:
    case RecordStatus::kTooLarge:
      return BatchEnd::kStop;
    case RecordStatus::kShort:
      std::cerr << "Error reading a log at location: " << record->pos
                << " from logfile:" << file_name_ << ". Tried reading " << record->length
                << " bytes But got " << record->got << " bytes" << std::endl;
      return BatchEnd::kStopRun;
    case RecordStatus::kOk:
      break;
  }
  if (!message->ParseFromArray(state.scratch.data(), static_cast<int>(state.scratch.size()))) {
    std::cout << "Find invalid UTF8 data at " << file_name_
              << ". So ignore the task to index the file" << std::endl;
    return BatchEnd::kStop;
  }
  if (message->applogs_size() > 0) {
    *selected = {LogKind::kApplication, message->mutable_applogs(0)};
  } else if (message->connlogs_size() > 0) {
    *selected = {LogKind::kConnection, message->mutable_connlogs(0)};
  } else if (message->eventlogs_size() > 0) {
    *selected = {LogKind::kEvent, message->mutable_eventlogs(0)};
  }
  // A log of another kind than the worker indexes counts as no log.
  if (selected->log == nullptr || selected->kind != kind_) {
    std::cerr << "Bad log message in file" << file_name_ << std::endl;
    return BatchEnd::kStop;
  }
  if (selected->kind == LogKind::kEvent) {
    InheritTenantAndDrift(*message, static_cast<EventLog*>(selected->log));
  }
  return BatchEnd::kMore;
}

std::string& IndexWorker::process_alog(std::string& buffer, const SelectedLog& selected,
                                       uint64_t* id, uint32_t file_pos, uint32_t record_size) {
  SharedState& state = shared();
  uint64_t ts = 0;
  switch (selected.kind) {
    case LogKind::kApplication: {
      auto* log = static_cast<ApplicationLog*>(selected.log);
      *id = LogDocumentId(log->report_timestamp(), log->adf(), log->udf(), log->vcpu_id(),
                          log->log_id(), log->service_engine());
      fill_special_fields_log(log);
      ts = log->report_timestamp();
      break;
    }
    case LogKind::kConnection: {
      auto* log = static_cast<ConnectionLog*>(selected.log);
      *id = LogDocumentId(log->report_timestamp(), log->adf(), log->udf(), log->vcpu_id(),
                          log->log_id(), log->service_engine());
      fill_special_fields_log(log);
      ts = log->report_timestamp();
      break;
    }
    case LogKind::kEvent: {
      auto* event = static_cast<EventLog*>(selected.log);
      *id = EventDocumentId(event->report_timestamp(), event->SerializeAsString());
      if (event->event_description().empty() && event->has_event_details()) {
        event->set_event_description(event_description_string(*event));
      }
      retrieve_event_context(event);
      AddEventFlagsAndPages(event, &state.internal_events_list);
      ts = event->report_timestamp();
      break;
    }
  }
  UpdateTimestamps(ts);

  if (state.render_fault.armed && state.render_fault.file_pos == file_pos) {
    if (state.render_fault.bad_alloc) throw std::bad_alloc();
    throw std::runtime_error("injected render failure");
  }

  static const std::set<std::string> kAllFields;
  ProtoParser parser(*selected.log, kAllFields);
  ElasticSearchWriter writer(&buffer);
  ESRenderer renderer(parser, writer);
  AddExtraFields(renderer, selected, parser.getVSFromALog(), *id, file_pos, record_size);
  renderer.render();
  return buffer;
}

void IndexWorker::AddExtraFields(Renderer& renderer, const SelectedLog& selected,
                                 const std::string& vs, uint64_t id, uint32_t file_pos,
                                 uint32_t record_size) {
  renderer.add_field("id", fmt::format_int(id).str());
  renderer.add_field("file_pos", fmt::format_int(file_pos).str());
  renderer.add_field("record_size", fmt::format_int(record_size).str());
  renderer.add_field("everything", "\"" + convert_number_to_text(*selected.log) + "\"");
  renderer.add_field("file_name", quoted_file_name_);
  renderer.add_field("file_name_crc32", quoted_file_name_crc32_);
  if (vs == ProtoParser::kAllEvents) {
    renderer.add_field("stime", stime_text_);
  } else if (selected.kind == LogKind::kApplication) {
    renderer.add_field("helper1", HelperText(*static_cast<const ApplicationLog*>(selected.log)));
  } else if (selected.kind == LogKind::kConnection) {
    renderer.add_field("helper1", HelperText(*static_cast<const ConnectionLog*>(selected.log)));
  }
}

bool IndexWorker::PostBatch(const char* data, size_t size) {
  SharedState& state = shared();
  const HttpResult http = state.es_client_.PostBulk(data, size);
  const std::string where = fmt::format("{}:{}/_bulk", state.es_client_.host(),
                                        state.es_client_.port());
  if (!http.transport_ok) {
    std::cerr << "Bulk request to " << where << " failed: " << http.error << std::endl;
    return false;
  }
  if (http.status < 200 || http.status > 299) {
    std::cerr << "Bulk request to " << where << " answered HTTP " << http.status << std::endl;
    return false;
  }
  const BulkTally tally = ReadBulkAnswer(http.body);
  if (!tally.parsed) {
    std::cerr << "Bulk request to " << where << ": " << tally.error << std::endl;
    return false;
  }
  response_.total += tally.accepted;
  if (tally.not_found) response_.exception = true;
  return true;
}

void IndexWorker::UpdateTimestamps(uint64_t ts) {
  max_ts = std::max(max_ts, ts);
  min_ts = std::min(min_ts, ts);
}

std::string IndexWorker::convert_number_to_text(const Message& message) {
  const auto* descriptor = message.GetDescriptor();
  std::string out;
  for (int i = 0; i < descriptor->field_count(); ++i) {
    const FieldDescriptor* field = descriptor->field(i);
    const std::string& name = field->name();
    if (EndsWith(name, "_timestamp") || EndsWith(name, "_ip") || EndsWith(name, "_ips")) continue;
    switch (field->cpp_type()) {
      case FieldDescriptor::CPPTYPE_INT32:
        AppendNumbers<int32_t>(message, field, &google::protobuf::Reflection::GetInt32, &out);
        break;
      case FieldDescriptor::CPPTYPE_UINT32:
        AppendNumbers<uint32_t>(message, field, &google::protobuf::Reflection::GetUInt32, &out);
        break;
      case FieldDescriptor::CPPTYPE_UINT64:
        AppendNumbers<uint64_t>(message, field, &google::protobuf::Reflection::GetUInt64, &out);
        break;
      default:
        break;
    }
  }
  return out;
}

}  // namespace kyv::infra::log
