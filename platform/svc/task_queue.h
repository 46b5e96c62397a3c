// The process's registry of named task queues.
#pragma once

#include <boost/asio/io_context.hpp>

#include <map>
#include <string>

#include "proto/syserr.pb.h"

class SvcRequestProcessor;

// A named queue carries calls to the one consumer subscribed to it (see SvcRpcChannel). The
// host creates one TaskQueue per process with the I/O context on which every call is served;
// the static functions act on that process queue. Single-threaded: use it from the thread
// that runs the I/O context.
class TaskQueue {
 public:
  // Becomes the process queue. A process holds at most one at a time.
  explicit TaskQueue(boost::asio::io_context& io);
  // Stops being the process queue: calls not yet delivered find no subscriber.
  ~TaskQueue();
  TaskQueue(const TaskQueue&) = delete;
  TaskQueue& operator=(const TaskQueue&) = delete;

  // The process queue, or nullptr.
  static TaskQueue* process_queue();
  boost::asio::io_context& io_context() { return io_; }

  // Declares `queue` for `module`. Idempotent. SYSERR_FAILURE without a process queue.
  static Syserr CreateTaskQueue(const std::string& queue, const std::string& module,
                                bool persistent);
  // Makes `consumer` (not owned) the subscriber of `queue`, creating the queue if needed and
  // replacing an earlier subscriber. The name is matched exactly. The consumer must stay alive
  // until it is unsubscribed. The two pointers are unused.
  static Syserr SubscribeToTaskQueuePattern(const std::string& queue,
                                            SvcRequestProcessor* consumer, void* arg1,
                                            void* arg2);
  // Removes the subscriber of `queue`; calls not yet delivered then find none.
  // SYSERR_NOT_FOUND if it had none.
  static Syserr UnsubscribeFromTaskQueuePattern(const std::string& queue);
  // The subscriber of `queue`, or nullptr.
  static SvcRequestProcessor* FindConsumer(const std::string& queue);

 private:
  struct Queue {
    std::string module;
    SvcRequestProcessor* consumer = nullptr;
  };
  boost::asio::io_context& io_;
  std::map<std::string, Queue> queues_;
};
