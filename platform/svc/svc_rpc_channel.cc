#include "platform/svc/svc_rpc_channel.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <glog/logging.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "platform/common/clock.h"
#include "platform/svc/svc_request_processor.h"
#include "platform/svc/task_queue.h"
#include "proto/options.pb.h"

namespace {

void MarkFailed(google::protobuf::RpcController* controller, Syserr code,
                const std::string& text) {
  if (auto* status = dynamic_cast<kyv::RpcStatusController*>(controller)) {
    status->SetFailed(code, text);
  } else if (controller) {
    controller->SetFailed(text);
  }
}

}  // namespace

// One two-way call, shared by the delivery, the callee's completion and the deadline.
struct SvcRpcChannel::Call {
  boost::asio::io_context* io = nullptr;
  google::protobuf::RpcController* controller = nullptr;
  google::protobuf::Message* response = nullptr;
  google::protobuf::Closure* done = nullptr;
  std::weak_ptr<char> channel_alive;
  std::string queue;
  bool finished = false;
  int64_t deadline_nanos = 0;  // 0: none
  std::unique_ptr<kyv::TimerHandle> deadline;
};

SvcRpcChannel::SvcRpcChannel() = default;

SvcRpcChannel::SvcRpcChannel(const std::string& key, bool exclusive)
    : key_(key), exclusive_(exclusive) {}

SvcRpcChannel::~SvcRpcChannel() = default;

void SvcRpcChannel::CallMethod(const google::protobuf::MethodDescriptor* method,
                               google::protobuf::RpcController* controller,
                               const google::protobuf::Message* request,
                               google::protobuf::Message* response,
                               google::protobuf::Closure* done) {
  const bool one_way = async_ && done == nullptr;
  const std::string& queue = method->service()->options().GetExtension(service_q_name);
  TaskQueue* task_queue = TaskQueue::process_queue();
  if (!task_queue || !request) {
    const char* why = task_queue ? "no request" : "no task queue in this process";
    LOG(ERROR) << "RPC " << method->full_name() << ": " << why;
    MarkFailed(controller, SYSERR_RPC_FAILURE, why);
    if (done) done->Run();
    return;
  }
  boost::asio::io_context& io = task_queue->io_context();
  std::unique_ptr<google::protobuf::Message> copy(request->New());
  copy->CopyFrom(*request);

  if (one_way) {
    if (!TaskQueue::FindConsumer(queue)) {
      LOG(WARNING) << "RPC " << method->full_name() << ": no subscriber on queue '" << queue
                   << "', one-way call dropped";
      MarkFailed(controller, SYSERR_RPC_NO_SUBSCRIBER, "no subscriber on queue '" + queue + "'");
      return;
    }
    boost::asio::post(io, [method, queue, copy = std::move(copy)]() mutable {
      SvcRequestProcessor* consumer = TaskQueue::FindConsumer(queue);
      if (!consumer) {
        LOG(WARNING) << "RPC " << method->full_name() << ": subscriber of queue '" << queue
                     << "' gone, one-way call dropped";
        return;
      }
      consumer->Dispatch(method, std::move(copy), nullptr);
    });
    return;
  }

  auto call = std::make_shared<Call>();
  call->io = &io;
  call->controller = controller;
  call->response = response;
  call->done = done;
  call->channel_alive = alive_;
  call->queue = queue;
  if (!TaskQueue::FindConsumer(queue)) {
    Finish(call, SYSERR_RPC_NO_SUBSCRIBER, "no subscriber on queue '" + queue + "'", nullptr);
    return;  // failed at once: a synchronous caller has its answer too
  }
  auto* svc_controller = dynamic_cast<SvcRpcController*>(controller);
  const int timeout_ms = svc_controller ? svc_controller->timeout_ms() : 0;
  if (timeout_ms > 0) {
    call->deadline_nanos = kyv::GetClock().NowNanos() + int64_t{timeout_ms} * 1000000;
    std::weak_ptr<Call> weak = call;
    call->deadline = kyv::GetClock().Schedule(io, std::chrono::milliseconds(timeout_ms), [weak] {
      if (auto c = weak.lock()) Finish(c, SYSERR_RPC_TIMED_OUT, "timed out", nullptr);
    });
  }
  boost::asio::post(io, [call, method, copy = std::move(copy)]() mutable {
    if (call->finished) return;  // timed out before delivery
    SvcRequestProcessor* consumer = TaskQueue::FindConsumer(call->queue);
    if (!consumer) {
      Finish(call, SYSERR_RPC_NO_SUBSCRIBER, "no subscriber on queue '" + call->queue + "'",
             nullptr);
      return;
    }
    consumer->Dispatch(method, std::move(copy),
                       [call](const SvcRpcController& served,
                              const google::protobuf::Message& answer) {
                         if (served.Failed()) {
                           Finish(call, served.error_code(), served.ErrorText(), nullptr);
                         } else {
                           Finish(call, SYSERR_SUCCESS, "", &answer);
                         }
                       });
  });
  if (!async_) Wait(call);
}

void SvcRpcChannel::Finish(const std::shared_ptr<Call>& call, Syserr code,
                           const std::string& text, const google::protobuf::Message* answer) {
  if (call->finished) return;  // a late answer after the time-out, or the reverse
  call->finished = true;
  call->deadline.reset();
  if (call->channel_alive.expired()) {
    LOG(WARNING) << "RPC on queue '" << call->queue
                 << "' completed after its channel was destroyed; closure not run";
    return;
  }
  std::string error = text;
  if (code == SYSERR_SUCCESS && answer && call->response) {
    if (call->response->GetDescriptor() == answer->GetDescriptor()) {
      call->response->CopyFrom(*answer);
    } else {
      code = SYSERR_RPC_BAD_REQUEST;
      error = "response type mismatch";
    }
  }
  if (code != SYSERR_SUCCESS) MarkFailed(call->controller, code, error);
  if (google::protobuf::Closure* done = call->done) {
    boost::asio::post(*call->io, [done] { done->Run(); });
  }
}

void SvcRpcChannel::Wait(const std::shared_ptr<Call>& call) {
  boost::asio::io_context& io = *call->io;
  // A context that is not being run stops when it runs out of work (as after an earlier wait):
  // it must be restarted before it can run this call's handlers.
  if (io.stopped()) io.restart();
  // Keeps run_one/poll_one from stopping the I/O context when it runs out of work.
  auto guard = boost::asio::make_work_guard(io);
  auto* fake_clock = dynamic_cast<kyv::FakeClock*>(&kyv::GetClock());
  bool moved_clock = false;
  while (!call->finished && !io.stopped()) {
    if (io.poll_one() > 0) {
      moved_clock = false;
      continue;
    }
    // Milliseconds to the deadline, rounded up; -1 without one.
    const int64_t remaining_ms =
        call->deadline_nanos == 0
            ? -1
            : std::max<int64_t>(0, (call->deadline_nanos - kyv::GetClock().NowNanos() + 999999) /
                                       1000000);
    if (fake_clock) {
      // Simulated time moves only when told: nothing left to run means waiting out the deadline.
      if (remaining_ms < 0 || moved_clock) break;
      fake_clock->Advance(std::chrono::milliseconds(remaining_ms));
      moved_clock = true;
    } else {
      io.run_one_for(remaining_ms < 0 ? std::chrono::milliseconds(std::chrono::hours(1))
                                      : std::chrono::milliseconds(std::max<int64_t>(1, remaining_ms)));
    }
  }
  if (!call->finished) {
    Finish(call, SYSERR_RPC_FAILURE,
           io.stopped() ? "I/O context stopped before the answer" : "no answer and no deadline",
           nullptr);
  }
}
