#include "controller/metrics_manager/metrics_common.h"

// Registered in the process flag registry when the library is loaded. The log indexer reads only
// logging_freq; the others belong to the metrics manager and keep their texts as they are.
DEFINE_int32(logging_freq, 1000, "Log every logging freq times");
DEFINE_int32(disable_hw_training, 0,
             "Flag which states whether training                                     "
             "should be disabled or not.");
DEFINE_bool(is_process_restarted, false, "Did process crash previously");
DEFINE_string(internal_ip, "", "Internal Node IP/Name");
DEFINE_bool(skip_eval_period_debug, false,
            "Metrics mgr debug flag which decide whether ingore anomaly evaluate_period");
