// Calls between services of one process over the task queue.
#include "platform/svc/svc_rpc_channel.h"

#include <gtest/gtest.h>
#include <google/protobuf/stubs/callback.h>

#include <boost/asio/post.hpp>

#include <chrono>
#include <memory>

#include "platform/common/clock.h"
#include "platform/svc/svc_api.h"
#include "platform/svc/svc_request_processor.h"
#include "platform/svc/task_queue.h"
#include "platform/svc/testing/echo_service_impl.h"

namespace {

using kyv::testing::EchoRequest;
using kyv::testing::EchoResponse;
using kyv::testing::EchoServiceImpl;
using kyv::testing::EchoService_Stub;
using EchoApi = SvcApi<EchoRequest, EchoResponse, EchoService_Stub>;

constexpr char kEchoQueue[] = "kyv.testing.echo";

// What a call's closure saw.
struct Outcome {
  int runs = 0;
  bool inside_call = false;
};

class SvcRpcChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(TaskQueue::CreateTaskQueue(kEchoQueue, "test", false), SYSERR_SUCCESS);
    ASSERT_EQ(TaskQueue::SubscribeToTaskQueuePattern(kEchoQueue, &processor_, nullptr, nullptr),
              SYSERR_SUCCESS);
    service_.defer = [this](std::function<void()> complete) {
      boost::asio::post(io_, std::move(complete));
    };
  }

  // Runs everything that is ready, including what that posts.
  void Drain() {
    io_.restart();
    io_.poll();
  }

  // Calls Echo through `api` with a closure that records into `outcome`.
  void CallEcho(EchoApi* api, const std::string& text, Outcome* outcome) {
    api->request->set_text(text);
    outcome->inside_call = true;
    api->rpc_stub()->Echo(api->rpc_controller(), api->request, api->response,
                          google::protobuf::NewCallback(+[](Outcome* o) {
                            ++o->runs;
                            EXPECT_FALSE(o->inside_call) << "closure ran inside CallMethod";
                          }, outcome));
    outcome->inside_call = false;
  }

  kyv::ScopedFakeClock clock_;
  boost::asio::io_context io_;
  TaskQueue task_queue_{io_};
  EchoServiceImpl service_;
  SvcRequestProcessor processor_{&service_};
};

TEST_F(SvcRpcChannelTest, AsyncCallRunsItsClosureOnceLater) {
  EchoApi api(10);
  Outcome outcome;
  {
    // The channel copies the request: the caller may drop it right after the call.
    auto request = std::make_unique<EchoRequest>();
    request->set_text("copied");
    request->set_value(7);
    api.rpc_stub()->Echo(api.rpc_controller(), request.get(), api.response,
                         google::protobuf::NewCallback(+[](Outcome* o) { ++o->runs; }, &outcome));
  }
  EXPECT_EQ(service_.echo_calls, 0);  // delivered from the I/O context, not inline
  Drain();
  EXPECT_EQ(outcome.runs, 1);
  EXPECT_FALSE(api.rpc_controller()->Failed());
  EXPECT_EQ(api.response->text(), "copied");
  EXPECT_EQ(api.response->value(), 7);
  EXPECT_EQ(clock_->pending_timers(), 0u);
}

TEST_F(SvcRpcChannelTest, CalleeOutcomesReachTheCaller) {
  struct Case {
    std::string text;
    bool want_failed;
    std::string want_response;
  };
  const Case cases[] = {
      {"plain", false, "plain"},
      {"fail", true, ""},
      {"via_callback", false, "via_callback"},
      {"defer", false, "defer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EchoApi api(10);
    Outcome outcome;
    CallEcho(&api, c.text, &outcome);
    Drain();
    EXPECT_EQ(outcome.runs, 1);
    EXPECT_EQ(api.rpc_controller()->Failed(), c.want_failed);
    EXPECT_EQ(api.response->text(), c.want_response);
    if (c.want_failed) {
      EXPECT_EQ(api.rpc_controller()->error_code(), SYSERR_RPC_FAILURE);
      EXPECT_EQ(api.rpc_controller()->ErrorText(), "asked to fail");
    }
  }
  EXPECT_TRUE(service_.callback_was_done);
}

TEST_F(SvcRpcChannelTest, AsyncTimeOutFailsOnceAndDropsTheLateAnswer) {
  EchoApi api(10);
  Outcome outcome;
  CallEcho(&api, "hold", &outcome);
  Drain();
  ASSERT_EQ(service_.held.size(), 1u);
  clock_->Advance(std::chrono::seconds(10));
  Drain();
  EXPECT_EQ(outcome.runs, 1);
  EXPECT_EQ(api.rpc_controller()->error_code(), SYSERR_RPC_TIMED_OUT);
  service_.CompleteHeld("late");
  Drain();
  EXPECT_EQ(outcome.runs, 1);
  EXPECT_EQ(api.response->text(), "");
}

TEST_F(SvcRpcChannelTest, SyncCallReturnsWithTheAnswer) {
  const int64_t start = clock_->NowNanos();
  for (const char* text : {"inline", "defer"}) {
    SCOPED_TRACE(text);
    EchoApi api(30);
    api.channel()->set_async(false);
    api.request->set_text(text);
    api.rpc_stub()->Echo(api.rpc_controller(), api.request, api.response, nullptr);
    EXPECT_FALSE(api.rpc_controller()->Failed()) << api.rpc_controller()->ErrorText();
    EXPECT_EQ(api.response->text(), text);
  }
  EXPECT_EQ(clock_->NowNanos(), start);  // no time had to pass
}

TEST_F(SvcRpcChannelTest, SyncCallGivesUpAtItsTimeOut) {
  const int64_t start = clock_->NowNanos();
  EchoApi api(30);
  api.channel()->set_async(false);
  api.request->set_text("hold");
  api.rpc_stub()->Echo(api.rpc_controller(), api.request, api.response, nullptr);
  EXPECT_TRUE(api.rpc_controller()->Failed());
  EXPECT_EQ(api.rpc_controller()->error_code(), SYSERR_RPC_TIMED_OUT);
  EXPECT_EQ(clock_->NowNanos() - start, 30LL * 1000000000);
  service_.CompleteHeld();
  Drain();
  EXPECT_EQ(api.response->text(), "");
}

TEST_F(SvcRpcChannelTest, NoSubscriberFailsTheCallAndStillRunsTheClosure) {
  ASSERT_EQ(TaskQueue::UnsubscribeFromTaskQueuePattern(kEchoQueue), SYSERR_SUCCESS);
  EXPECT_EQ(TaskQueue::UnsubscribeFromTaskQueuePattern(kEchoQueue), SYSERR_NOT_FOUND);
  for (bool async : {true, false}) {
    SCOPED_TRACE(async ? "async" : "sync");
    EchoApi api(10);
    api.channel()->set_async(async);
    Outcome outcome;
    CallEcho(&api, "x", &outcome);
    if (!async) {
      EXPECT_EQ(api.rpc_controller()->error_code(), SYSERR_RPC_NO_SUBSCRIBER);
    }
    Drain();
    EXPECT_EQ(outcome.runs, 1);
    EXPECT_EQ(api.rpc_controller()->error_code(), SYSERR_RPC_NO_SUBSCRIBER);
  }
  EXPECT_EQ(service_.echo_calls, 0);
}

TEST_F(SvcRpcChannelTest, UnsubscribeBeforeDeliveryFailsTheCall) {
  EchoApi api(10);
  Outcome outcome;
  CallEcho(&api, "x", &outcome);
  TaskQueue::UnsubscribeFromTaskQueuePattern(kEchoQueue);
  Drain();
  EXPECT_EQ(outcome.runs, 1);
  EXPECT_EQ(api.rpc_controller()->error_code(), SYSERR_RPC_NO_SUBSCRIBER);
  EXPECT_EQ(service_.echo_calls, 0);
}

TEST_F(SvcRpcChannelTest, OneWayCallIsDeliveredAfterTheCallerFreedEverything) {
  auto api = std::make_unique<EchoApi>(10);
  api->request->set_text("report");
  api->rpc_stub()->Notify(api->rpc_controller(), api->request, api->response, nullptr);
  api.reset();
  Drain();
  EXPECT_EQ(service_.notify_calls, 1);
  EXPECT_EQ(service_.last_notify, "report");

  // Without a subscriber it is dropped.
  TaskQueue::UnsubscribeFromTaskQueuePattern(kEchoQueue);
  EchoApi dropped(10);
  dropped.rpc_stub()->Notify(dropped.rpc_controller(), dropped.request, dropped.response, nullptr);
  EXPECT_EQ(dropped.rpc_controller()->error_code(), SYSERR_RPC_NO_SUBSCRIBER);
  Drain();
  EXPECT_EQ(service_.notify_calls, 1);
}

TEST_F(SvcRpcChannelTest, FreeingTheApiBeforeTheAnswerLeavesItAlone) {
  auto api = std::make_unique<EchoApi>(10);
  std::unique_ptr<google::protobuf::Closure> closure(
      google::protobuf::NewPermanentCallback(+[] { ADD_FAILURE() << "closure ran"; }));
  api->request->set_text("hold");
  api->rpc_stub()->Echo(api->rpc_controller(), api->request, api->response, closure.get());
  Drain();
  api.reset();
  service_.CompleteHeld();
  clock_->Advance(std::chrono::seconds(10));
  Drain();
}

TEST_F(SvcRpcChannelTest, RefusesMethodsTheSubscriberDoesNotServe) {
  // The echo service's consumer subscribed to another service's queue must not be handed
  // that service's requests.
  ASSERT_EQ(TaskQueue::SubscribeToTaskQueuePattern("kyv.testing.other", &processor_, nullptr,
                                                   nullptr),
            SYSERR_SUCCESS);
  SvcApi<EchoRequest, EchoResponse, kyv::testing::OtherService_Stub> api(10);
  api.channel()->set_async(false);
  api.rpc_stub()->Ping(api.rpc_controller(), api.request, api.response, nullptr);
  EXPECT_EQ(api.rpc_controller()->error_code(), SYSERR_RPC_BAD_REQUEST);
  EXPECT_EQ(service_.echo_calls, 0);

  // A service without a queue name cannot be reached.
  SvcApi<EchoRequest, EchoResponse, kyv::testing::UnroutedService_Stub> unrouted(10);
  unrouted.channel()->set_async(false);
  unrouted.rpc_stub()->Ping(unrouted.rpc_controller(), unrouted.request, unrouted.response,
                            nullptr);
  EXPECT_EQ(unrouted.rpc_controller()->error_code(), SYSERR_RPC_NO_SUBSCRIBER);
}

TEST(TaskQueueTest, StaticFunctionsNeedTheProcessQueue) {
  EXPECT_EQ(TaskQueue::process_queue(), nullptr);
  EXPECT_EQ(TaskQueue::CreateTaskQueue("q", "m", false), SYSERR_FAILURE);
  EXPECT_EQ(TaskQueue::FindConsumer("q"), nullptr);
  boost::asio::io_context io;
  {
    TaskQueue queue(io);
    EXPECT_EQ(TaskQueue::process_queue(), &queue);
    EXPECT_EQ(TaskQueue::CreateTaskQueue("q", "m", false), SYSERR_SUCCESS);
    EXPECT_EQ(TaskQueue::SubscribeToTaskQueuePattern("q", nullptr, nullptr, nullptr),
              SYSERR_INVALID_ARG);
  }
  EXPECT_EQ(TaskQueue::process_queue(), nullptr);

  // Without a process queue a two-way call fails at once.
  SvcApi<EchoRequest, EchoResponse, EchoService_Stub> api(10);
  int runs = 0;
  api.rpc_stub()->Echo(api.rpc_controller(), api.request, api.response,
                       google::protobuf::NewCallback(+[](int* r) { ++*r; }, &runs));
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(api.rpc_controller()->Failed());
}

}  // namespace
