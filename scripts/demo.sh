#!/usr/bin/env bash
# The demo: starts the vCenter manager simulator and the controller host on free loopback ports
# with a SQLite datastore under var/demo/, shows the link coming up and the controller's
# identity, then stops everything it started.
set -euo pipefail
cd "$(dirname "$0")/.."
BIN=build/bin
DEMO=var/demo
mkdir -p "$DEMO"
rm -f "$DEMO"/hearthd.db* "$DEMO"/events.log

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

# Waits for a line matching $2 in file $1 (up to 20 s), printing it.
wait_line() {
  for _ in $(seq 1 200); do
    if grep -m1 -E "$2" "$1" 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  echo "demo: timed out waiting for '$2' in $1" >&2
  exit 1
}

NOTIF_PORT=$(free_port)
echo "== starting vcmgr-sim with examples/inventory.json"
"$BIN/vcmgr-sim" --inventory=examples/inventory.json --port=0 --notify_port="$NOTIF_PORT" \
  >"$DEMO/sim.out" 2>"$DEMO/sim.log" &
pids+=($!)
wait_line "$DEMO/sim.out" 'vcmgr-sim ready port=[0-9]+' >/dev/null
SIM_PORT=$(sed -n 's/.*ready port=\([0-9]*\).*/\1/p' "$DEMO/sim.out")
echo "   vCenter manager simulator listening on 127.0.0.1:$SIM_PORT"

echo "== starting hearthd (datastore $DEMO/hearthd.db)"
"$BIN/hearthd" --datastore="sqlite:$DEMO/hearthd.db" --admin_port=0 --vcmgr_port="$SIM_PORT" \
  --enable_vcmgr_notif --vcmgr_notif_port="$NOTIF_PORT" --event_log_file="$DEMO/events.log" \
  --cluster_uuid=cluster-demo --controller_ips=10.10.10.11 --controller_vm_mors=vm-1 \
  >"$DEMO/hearthd.out" 2>"$DEMO/hearthd.log" &
pids+=($!)
wait_line "$DEMO/hearthd.out" 'hearthd ready admin_port=[0-9]+' >/dev/null
ADMIN_PORT=$(sed -n 's/.*admin_port=\([0-9]*\).*/\1/p' "$DEMO/hearthd.out")
echo "   admin port 127.0.0.1:$ADMIN_PORT"

echo "== the link to the vCenter manager"
wait_line "$DEMO/hearthd.log" 'Tcp Connection Success Callback' | sed 's/^/   /'

echo "== corvel-cli status"
"$BIN/corvel-cli" --admin_port="$ADMIN_PORT" status | sed 's/^/   /'

echo "== stopping"
cleanup
pids=()
echo "   done; logs are in $DEMO/"
