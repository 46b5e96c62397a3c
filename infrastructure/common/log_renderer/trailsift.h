// The log indexer: reads length-prefixed log records from a file, renders each as a JSON
// document and posts them in batches to the local search index's bulk endpoint.
#pragma once

#include <google/protobuf/message.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "controller/metrics_manager/ip_table.h"
#include "infrastructure/common/log_renderer/cipher_table.h"
#include "infrastructure/common/log_renderer/country_db.h"
#include "infrastructure/common/log_renderer/es_client.h"
#include "infrastructure/common/log_renderer/module_settings.h"
#include "infrastructure/common/log_renderer/record_reader.h"
#include "infrastructure/common/log_renderer/vs_tenant_map.h"
#include "platform/log_renderer/renderer.h"
#include "platform/uap/user_agent_parser.h"
#include "proto/log.pb.h"

namespace kyv::infra::log {

// What indexing runs did, returned to Python by value.
struct IndexRet {
  uint64_t max_ts = 0;     // largest record timestamp seen
  uint64_t min_ts = 0;     // smallest record timestamp seen
  uint32_t read_pos = 0;   // offset at which the next run should continue
  uint32_t total = 0;      // documents the index accepted, over all runs
  bool exception = false;  // the index answered an item with 404
};

// The kind of log a worker indexes, from its document type.
enum class LogKind { kApplication, kConnection, kEvent };

// A test-only fault: rendering the record whose length prefix is at `file_pos` throws.
struct RenderFault {
  bool armed = false;
  uint32_t file_pos = 0;
  bool bad_alloc = false;  // std::bad_alloc, else std::runtime_error
};

// State shared by every worker of the process, created when the module loads and kept until the
// process exits. Used under the Python interpreter lock only; it has no lock of its own.
struct SharedState {
  explicit SharedState(ModuleSettings s);

  ModuleSettings settings;
  // Built from settings.regexes_file; a file that cannot be read gives a parser that answers
  // "Other" for every user agent.
  uap_cpp::UserAgentParser ua_parser_;
  EsClient es_client_;
  CountryDb gi_;
  VsTenantMap vs_tenant_map_;
  CipherTable cipher_props_;
  std::unordered_set<int> internal_events_list;
  std::map<int, std::string> old_kyvfilter_;
  std::map<int, std::string> kyvfilter_;
  ip_table_group ipg;
  std::string doc_buffer;  // one rendered document at a time
  std::string scratch;     // one record's bytes at a time
  std::string ip_text;     // one client address at a time
  std::vector<std::string> tenants;  // the tenants of one client location lookup
  RenderFault render_fault;
};

// One indexing task over a stretch of one log file. Owned by its Python object.
class IndexWorker {
 public:
  // The most records per bulk request.
  static constexpr uint32_t maxlogs_per_insert_ = 1000;

  // Opens `file_name` and measures it. A file that cannot be opened does not fail construction:
  // the first run() reports it. `doc_type` "conn_log" and "app_log" select connection and
  // application logs, anything else event logs. `limit` bounds the records consumed over all
  // runs (0: one record per run).
  IndexWorker(std::string file_name, uint32_t file_pos, std::string index_name,
              std::string doc_type, uint32_t limit);

  // Indexes from file_pos_ on, batch by batch, and returns a copy of the accumulated result.
  IndexRet run();

  // Replaces the process-wide IP address group table with the groups of its file
  // (ReadIpAddrGroupFile); a file that cannot be opened leaves the table empty.
  static void create_ipg();

  // Module load: creates the shared state (side file paths, lookups, HTTP client) and initialises
  // the HTTP library. Called once, before any worker exists.
  static void LoadModule();

  // The shared state; LoadModule must have run.
  static SharedState& shared();

  // Fills the derived fields of a log in place, in this order. Application logs: client
  // location, user agent families, response-time splits, significance, cipher text, client
  // cipher list, gRPC reason. Connection logs: client location (the DNS request's location
  // first), traffic totals, significance, cipher text, DNS answer addresses.
  void fill_special_fields_log(ApplicationLog* log);
  void fill_special_fields_log(ConnectionLog* log);

  // Sets the context of an event (configuration, application or system; EventContextOf).
  void retrieve_event_context(EventLog* event);

  // The texts of the OldKyvDefinedFilters bits set in `value`, joined with ", "
  // (BitmapString); the shared text map is filled from get_bitmap_texts(enum_name) when empty.
  static std::string get_bitmap_string(uint64_t value, const std::string& enum_name);

  // The values of the message's top-level int32, uint32 and uint64 fields (signed and fixed
  // variants too), each followed by a blank, in declaration order; fields whose names end in
  // "_timestamp", "_ip" or "_ips" and fields of other types are left out.
  std::string convert_number_to_text(const google::protobuf::Message& message);

 private:
  // The selected log of the current record.
  struct SelectedLog {
    LogKind kind = LogKind::kEvent;
    google::protobuf::Message* log = nullptr;
  };

  // Why a batch stopped taking records.
  enum class BatchEnd { kMore, kStop, kStopRun };

  // Reads the record at offset `pos` (where the stream stands) into `message` and selects its
  // log; `record` tells where the stream stands afterwards. Returns kMore with `selected` set
  // when a log is ready; kStop when the batch ends here (end of data, skipped oversized record,
  // unparsable record or no log of this worker's kind: lines written as needed); kStopRun when
  // the file ends inside the record.
  BatchEnd get_log_from_file(uint64_t pos, RecordRead* record, LogMessage* message,
                             SelectedLog* selected);

  // Renders the selected log into `buffer` and sets `id`; returns `buffer`.
  std::string& process_alog(std::string& buffer, const SelectedLog& selected, uint64_t* id,
                            uint32_t file_pos, uint32_t record_size);

  // Adds the extra fields of every document to the renderer, in document order.
  void AddExtraFields(Renderer& renderer, const SelectedLog& selected, const std::string& vs,
                      uint64_t id, uint32_t file_pos, uint32_t record_size);

  // Posts one batch and counts the answer. False when the batch did not reach the index (the
  // caller undoes it); a line on standard error says why.
  bool PostBatch(const char* data, size_t size);

  void UpdateTimestamps(uint64_t ts);

  // Fields both log kinds derive alike.
  template <typename L>
  void FillCommonFields(L* log);

  // The client location of `ip` when no DNS location is known: the first IP address group of
  // the tenants "admin" and the virtual service's tenant that holds the address, else its
  // country; "Unknown" when both are empty.
  std::string ClientLocationOf(uint32_t ip, bool has_vs, const std::string& vs);

  std::shared_ptr<std::ifstream> index_file_;
  size_t total_read_ = 0;
  std::string file_name_;
  std::string index_name_;
  uint32_t file_pos_;
  std::string doc_type_;
  LogKind kind_;
  uint32_t limit_;
  int64_t stime_ = 0;
  size_t filesize_ = 0;
  uint64_t max_ts = 0;
  uint64_t min_ts = ~0ull;
  IndexRet response_;

  // Per-worker texts of the extra fields, computed once.
  std::string quoted_file_name_;
  std::string quoted_file_name_crc32_;
  std::string stime_text_;
  std::string action_prefix_;  // the action line up to the id
};

}  // namespace kyv::infra::log
