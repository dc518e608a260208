#!/usr/bin/env bash
# Starts the gateway simulator on a free loopback port, runs the session tour
# against it, and stops the simulator however the tour ends.
#   examples/run_demo.sh [PYTHON]
set -euo pipefail

python=${1:-python3}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
banner=$(mktemp)
simulator_log=$(mktemp)
simulator=""

stop() {
  if [[ -n $simulator ]] && kill -0 "$simulator" 2>/dev/null; then
    kill "$simulator" 2>/dev/null || true
    wait "$simulator" 2>/dev/null || true
  fi
  rm -f "$banner" "$simulator_log"
}
trap stop EXIT
trap 'exit 130' INT TERM

# --port 0: the system picks a free port; the first line on stdout names it.
"$python" -m orvik_gateway_sim --host 127.0.0.1 --port 0 >"$banner" 2>"$simulator_log" &
simulator=$!

address=""
for _ in $(seq 100); do
  address=$(sed -n 's/^orvik gateway simulator listening on //p' "$banner")
  [[ -n $address ]] && break
  if ! kill -0 "$simulator" 2>/dev/null; then
    echo "the gateway simulator did not start:" >&2
    cat "$simulator_log" >&2
    exit 1
  fi
  sleep 0.1
done
if [[ -z $address ]]; then
  echo "the gateway simulator did not report its address within 10 s" >&2
  exit 1
fi

echo "gateway simulator listening on $address"
"$python" "$here/session_tour.py" --host "${address%:*}" --port "${address##*:}"
