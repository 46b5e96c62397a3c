// Delivery of notifications to the connector's notification port.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "platform/common/clock.h"
#include "platform/svc/tcp/tcp_client.h"
#include "platform/svc/tcp/tcp_rpc_channel.h"
#include "platform/svc/tcp/tcp_rpc_resp_processor.h"
#include "proto/corvel_service.pb.h"

namespace vcmgr_sim {

// One notification: a VIGlobalVMNotif, VIGlobalResourceNotif or VIVcenterStatus.
struct Notification {
  std::unique_ptr<google::protobuf::Message> message;
};

// Produces the notifications of one stretch of work one at a time, so that a resynchronisation
// of a large inventory renders each batch only when it is about to be sent.
class NotificationSource {
 public:
  virtual ~NotificationSource() = default;
  // Stores the next notification in `*out`; false when the source is exhausted.
  virtual bool Next(Notification* out) = 0;
};

// Sends notifications over one TCP link to CorvelService, in the order they were queued, with
// at most `window` calls awaiting their answer. Connects when there is something to send and
// reconnects after `retry_ms` when the link is down or lost; a call lost with the link is sent
// again, in its place, once the link is back. A call that fails otherwise (time-out, an error
// answered by the peer) is dropped and counted. Nothing here blocks: every step runs from the
// I/O context. Single-threaded.
class Notifier {
 public:
  struct Options {
    std::string host = "127.0.0.1";
    uint16_t port = 5008;
    int window = 8;
    int retry_ms = 1000;
    int call_timeout_sec = 60;
  };
  struct Stats {
    uint64_t sent = 0;       // calls made, resends included
    uint64_t delivered = 0;  // calls answered without error
    uint64_t dropped = 0;    // calls given up
    uint64_t links = 0;      // connections made
  };

  Notifier(boost::asio::io_context& io, Options options);
  // Closes the link; queued notifications are dropped.
  ~Notifier();
  Notifier(const Notifier&) = delete;
  Notifier& operator=(const Notifier&) = delete;

  // Queues `source` behind everything queued before, under the name `stream`.
  void Enqueue(const std::string& stream, std::unique_ptr<NotificationSource> source);
  // Queues one notification.
  void Enqueue(const std::string& stream, Notification notification);
  // Forgets what `stream` has queued or waiting to be resent; its calls in flight complete
  // unnoticed.
  void Drop(const std::string& stream);
  // Closes the link and stops sending for good.
  void Stop();

  const Stats& stats() const { return stats_; }
  // Notifications queued or waiting to be resent, not counting sources not yet rendered.
  size_t backlog() const { return retry_.size() + in_flight_.size(); }
  // True when nothing is queued, in flight or waiting to be resent.
  bool idle() const { return sources_.empty() && retry_.empty() && in_flight_.empty(); }
  bool connected() const { return client_->connected(); }

 private:
  class Call;
  struct Queued {
    std::string stream;
    std::unique_ptr<NotificationSource> source;
  };
  struct Pending {
    std::string stream;
    Notification notification;
  };

  void Pump();
  void Connect();
  void OnLinkDown();
  void Send(uint64_t seq, Pending pending);
  void OnDone(std::unique_ptr<Call> call);

  boost::asio::io_context& io_;
  Options options_;
  TcpRpcRespProcessor processor_;
  std::shared_ptr<TcpClient> client_;
  TcpRpcChannel channel_;
  CorvelService_Stub stub_;
  boost::asio::ip::tcp::resolver resolver_;
  std::deque<Queued> sources_;
  std::map<uint64_t, Pending> retry_;            // lost with the link, by sequence number
  std::map<uint64_t, std::string> in_flight_;    // sequence number -> stream
  uint64_t next_seq_ = 1;
  bool connecting_ = false;
  bool stopped_ = false;
  std::unique_ptr<kyv::TimerHandle> reconnect_;
  Stats stats_;
  std::shared_ptr<char> alive_ = std::make_shared<char>(0);
};

}  // namespace vcmgr_sim
