// Process-wide access to the connector's one worker and one service object. Each pointer is set
// once, by the object's constructor; setting it a second time is a broken invariant.
#pragma once

#include <glog/logging.h>

class CorvelServiceImpl;
class CorvelWorker;

class CorvelGlobals {
 public:
  static void SetGlobalInstance(CorvelServiceImpl* service) {
    CHECK(corvel_service_ == nullptr) << "a process holds one connector service";
    corvel_service_ = service;
  }
  static void SetGlobalWorkerInstance(CorvelWorker* worker) {
    CHECK(corvel_worker_ == nullptr) << "a process holds one connector worker";
    corvel_worker_ = worker;
  }
  static CorvelServiceImpl* corvel_service() { return corvel_service_; }
  static CorvelWorker* corvel_worker() { return corvel_worker_; }

  // Tests that build several workers in one process release the slots between them.
  static void ResetForTest() {
    corvel_service_ = nullptr;
    corvel_worker_ = nullptr;
  }

 private:
  static inline CorvelServiceImpl* corvel_service_ = nullptr;
  static inline CorvelWorker* corvel_worker_ = nullptr;
};
