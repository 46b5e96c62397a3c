#include "platform/common/logger.h"

Logger* Logger::GetLogger(DebugControllerModuleType module) {
  static Logger loggers[MAX_DEBUG_MODULE];
  int idx = static_cast<int>(module);
  if (idx < 0 || idx >= MAX_DEBUG_MODULE) idx = UNKNOWN_DEBUG;
  return &loggers[idx];
}
