// Flags shared by the metrics manager and the log indexer module.
#pragma once

#include <gflags/gflags.h>

// Period of the rate-limited warnings: one line every logging_freq occurrences.
DECLARE_int32(logging_freq);
DECLARE_int32(disable_hw_training);
DECLARE_bool(is_process_restarted);
DECLARE_string(internal_ip);
DECLARE_bool(skip_eval_period_debug);
