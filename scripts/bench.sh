#!/usr/bin/env bash
# Runs every benchmark that was built and prints its figures.
set -euo pipefail
cd "$(dirname "$0")/.."
for b in datastore_bench rpc_bench corvel_store_bench vcmgr_sim_bench uap_bench; do
  if [ -x "build/bin/$b" ]; then
    echo "== $b"
    "build/bin/$b"
  fi
done
if ls build/python/trailsift*.so >/dev/null 2>&1; then
  echo "== trailsift_bench"
  KYV_BUILD_DIR=build /usr/bin/python3 bench/trailsift_bench.py
fi
