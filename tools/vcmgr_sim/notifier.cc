#include "tools/vcmgr_sim/notifier.h"

#include <glog/logging.h>

#include <chrono>
#include <utility>

#include "tools/vcmgr_sim/inventory.h"

namespace vcmgr_sim {

namespace {

// A source that yields one ready notification.
class SingleSource : public NotificationSource {
 public:
  explicit SingleSource(Notification n) : n_(std::move(n)) {}
  bool Next(Notification* out) override {
    if (!n_.message) return false;
    *out = std::move(n_);
    return true;
  }

 private:
  Notification n_;
};

}  // namespace

// One call in flight. Its own completion closure: it deletes itself when run, after handing
// itself back to the notifier if that still exists.
class Notifier::Call : public google::protobuf::Closure {
 public:
  Call(Notifier* owner, uint64_t seq, Pending pending, int timeout_sec)
      : owner_(owner),
        alive_(owner->alive_),
        seq_(seq),
        pending_(std::move(pending)),
        controller_(nullptr, timeout_sec) {}

  void Run() override {
    std::unique_ptr<Call> self(this);
    if (!alive_.expired()) owner_->OnDone(std::move(self));
  }

  uint64_t seq() const { return seq_; }
  Pending& pending() { return pending_; }
  TcpClientRpcController* controller() { return &controller_; }
  VoidResponse* response() { return &response_; }

 private:
  Notifier* owner_;
  std::weak_ptr<char> alive_;
  uint64_t seq_;
  Pending pending_;
  TcpClientRpcController controller_;
  VoidResponse response_;
};

Notifier::Notifier(boost::asio::io_context& io, Options options)
    : io_(io),
      options_(std::move(options)),
      client_(std::make_shared<TcpClient>(io, options_.host, std::to_string(options_.port), &processor_, "")),
      channel_(client_.get()),
      stub_(&channel_),
      resolver_(io) {}

Notifier::~Notifier() { Stop(); }

void Notifier::Stop() {
  if (stopped_) return;
  stopped_ = true;
  reconnect_.reset();
  resolver_.cancel();
  client_->stop();
  sources_.clear();
  retry_.clear();
}

void Notifier::Enqueue(const std::string& stream, std::unique_ptr<NotificationSource> source) {
  if (stopped_) return;
  sources_.push_back(Queued{stream, std::move(source)});
  Pump();
}

void Notifier::Enqueue(const std::string& stream, Notification notification) {
  Enqueue(stream, std::make_unique<SingleSource>(std::move(notification)));
}

void Notifier::Drop(const std::string& stream) {
  for (auto it = sources_.begin(); it != sources_.end();) {
    it = it->stream == stream ? sources_.erase(it) : std::next(it);
  }
  for (auto it = retry_.begin(); it != retry_.end();) {
    it = it->second.stream == stream ? retry_.erase(it) : std::next(it);
  }
  for (auto& [seq, s] : in_flight_) {
    if (s == stream) s.clear();  // its outcome no longer matters
  }
}

void Notifier::Pump() {
  if (stopped_) return;
  if (!client_->connected()) {
    if (!idle()) Connect();
    return;
  }
  while (static_cast<int>(in_flight_.size()) < options_.window) {
    if (!retry_.empty()) {
      auto node = retry_.extract(retry_.begin());
      Send(node.key(), std::move(node.mapped()));
      continue;
    }
    if (sources_.empty()) return;
    Pending next;
    if (!sources_.front().source->Next(&next.notification)) {
      sources_.pop_front();
      continue;
    }
    next.stream = sources_.front().stream;
    Send(next_seq_++, std::move(next));
  }
}

void Notifier::Send(uint64_t seq, Pending pending) {
  in_flight_[seq] = pending.stream;
  ++stats_.sent;
  auto* call = new Call(this, seq, std::move(pending), options_.call_timeout_sec);
  const google::protobuf::Message* msg = call->pending().notification.message.get();
  if (auto* vm = dynamic_cast<const VIGlobalVMNotif*>(msg)) {
    stub_.VIGlobalVMNotification(call->controller(), vm, call->response(), call);
  } else if (auto* res = dynamic_cast<const VIGlobalResourceNotif*>(msg)) {
    stub_.VIGlobalResourceNotification(call->controller(), res, call->response(), call);
  } else if (auto* status = dynamic_cast<const VIVcenterStatus*>(msg)) {
    stub_.VIVcenterConnectStatus(call->controller(), status, call->response(), call);
  } else {
    LOG(ERROR) << "notifier: cannot send a " << (msg ? msg->GetTypeName() : "null message");
    in_flight_.erase(seq);
    ++stats_.dropped;
    delete call;
  }
}

void Notifier::OnDone(std::unique_ptr<Call> call) {
  auto it = in_flight_.find(call->seq());
  const bool wanted = it != in_flight_.end() && !it->second.empty();
  if (it != in_flight_.end()) in_flight_.erase(it);
  if (stopped_ || !wanted) return;
  TcpClientRpcController* ctl = call->controller();
  if (!ctl->Failed()) {
    ++stats_.delivered;
  } else if (ctl->error_code() == SYSERR_RPC_CONN_DOWN) {
    retry_.emplace(call->seq(), std::move(call->pending()));
  } else {
    ++stats_.dropped;
    LOG(WARNING) << "notifier: " << call->pending().notification.message->GetTypeName()
                 << " dropped: " << ctl->ErrorText();
  }
  Pump();
}

void Notifier::Connect() {
  if (connecting_ || reconnect_ || stopped_) return;
  connecting_ = true;
  std::weak_ptr<char> alive = alive_;
  resolver_.async_resolve(
      options_.host, std::to_string(options_.port),
      [this, alive](const boost::system::error_code& ec,
                    boost::asio::ip::tcp::resolver::results_type results) {
        if (alive.expired() || stopped_) return;
        if (ec) {
          LOG(WARNING) << "notifier: cannot resolve " << options_.host << ": " << ec.message();
          OnLinkDown();
          return;
        }
        client_->start(
            results,
            [this, alive](TcpClient*) {
              if (alive.expired()) return;
              connecting_ = false;
              ++stats_.links;
              LOG(INFO) << "notifier: connected to " << options_.host << ":" << options_.port;
              Pump();
            },
            [this, alive](TcpClient*) {
              if (!alive.expired()) OnLinkDown();
            });
      });
}

void Notifier::OnLinkDown() {
  connecting_ = false;
  if (stopped_ || reconnect_) return;
  VLOG(1) << "notifier: link to " << options_.host << ":" << options_.port << " down; retrying in "
          << options_.retry_ms << " ms";
  std::weak_ptr<char> alive = alive_;
  reconnect_ = kyv::GetClock().Schedule(io_, std::chrono::milliseconds(options_.retry_ms), [this, alive] {
    if (alive.expired()) return;
    reconnect_.reset();
    Pump();
  });
}

}  // namespace vcmgr_sim
