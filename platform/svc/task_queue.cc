#include "platform/svc/task_queue.h"

#include <glog/logging.h>

namespace {
TaskQueue* g_process_queue = nullptr;
}

TaskQueue::TaskQueue(boost::asio::io_context& io) : io_(io) {
  CHECK(g_process_queue == nullptr) << "a process holds one TaskQueue at a time";
  g_process_queue = this;
}

TaskQueue::~TaskQueue() {
  if (g_process_queue == this) g_process_queue = nullptr;
}

TaskQueue* TaskQueue::process_queue() { return g_process_queue; }

Syserr TaskQueue::CreateTaskQueue(const std::string& queue, const std::string& module,
                                  bool /*persistent*/) {
  if (!g_process_queue) {
    LOG(ERROR) << "CreateTaskQueue(" << queue << "): no task queue in this process";
    return SYSERR_FAILURE;
  }
  Queue& q = g_process_queue->queues_[queue];
  if (q.module.empty()) q.module = module;
  return SYSERR_SUCCESS;
}

Syserr TaskQueue::SubscribeToTaskQueuePattern(const std::string& queue,
                                              SvcRequestProcessor* consumer, void*, void*) {
  if (!g_process_queue) {
    LOG(ERROR) << "SubscribeToTaskQueuePattern(" << queue << "): no task queue in this process";
    return SYSERR_FAILURE;
  }
  if (!consumer) return SYSERR_INVALID_ARG;
  Queue& q = g_process_queue->queues_[queue];
  if (q.consumer && q.consumer != consumer) {
    LOG(WARNING) << "task queue " << queue << ": subscriber replaced";
  }
  q.consumer = consumer;
  return SYSERR_SUCCESS;
}

Syserr TaskQueue::UnsubscribeFromTaskQueuePattern(const std::string& queue) {
  if (!g_process_queue) return SYSERR_NOT_FOUND;
  auto it = g_process_queue->queues_.find(queue);
  if (it == g_process_queue->queues_.end() || !it->second.consumer) return SYSERR_NOT_FOUND;
  it->second.consumer = nullptr;
  return SYSERR_SUCCESS;
}

SvcRequestProcessor* TaskQueue::FindConsumer(const std::string& queue) {
  if (!g_process_queue) return nullptr;
  auto it = g_process_queue->queues_.find(queue);
  return it == g_process_queue->queues_.end() ? nullptr : it->second.consumer;
}
