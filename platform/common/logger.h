// Per-module loggers and the trace macro of controller services.
//
// Each module has one process-wide Logger holding its log level, trace level and flag bits.
// Trace lines are plain glog INFO lines prefixed with "F[function] L[line] "; they are written
// only when the module's flags have kTraceFlag, its trace level reaches the line's level (and at
// least TRACE_LEVEL_DEBUG) and glog's verbose level 2 is on.
#pragma once

#include <glog/logging.h>

#include <algorithm>

enum DebugControllerModuleType {
  UNKNOWN_DEBUG = 0,
  VS_MGR_DEBUG = 1,
  SE_MGR_DEBUG = 2,
  RES_MGR_DEBUG = 3,
  METRICS_MGR_DEBUG = 6,
  CORVEL_DEBUG = 10,
  MAX_DEBUG_MODULE = 64,
};

enum TraceLevel {
  TRACE_LEVEL_NONE = 0,
  TRACE_LEVEL_INFO = 1,
  TRACE_LEVEL_DEBUG = 2,
  TRACE_LEVEL_DEBUG_DETAIL = 3,
};

class Logger {
 public:
  static constexpr int kLogFlag = 0x1;
  static constexpr int kTraceFlag = 0x2;

  // The module's logger; never null, lives for the whole process.
  static Logger* GetLogger(DebugControllerModuleType module);

  bool TraceOn(int level) const {
    return (flags_ & kTraceFlag) != 0 && trace_level_ >= std::max<int>(level, TRACE_LEVEL_DEBUG) &&
           VLOG_IS_ON(2);
  }

  int log_level_ = 0;
  int trace_level_ = TRACE_LEVEL_NONE;
  int flags_ = 0;
};

// TRACE(logger, level) << "text";  writes "F[func] L[line] text" when the logger allows it.
#define TRACE(logger, level)                                            \
  if (!((logger) != nullptr && (logger)->TraceOn(level))) {             \
  } else                                                                \
    LOG(INFO) << "F[" << __func__ << "] L[" << __LINE__ << "] "
