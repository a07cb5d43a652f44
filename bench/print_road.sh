#!/usr/bin/env bash
# The print road under load: the MES simulator feeds Quenlor numbered print jobs for the
# 100 x 50 mm sample (five substrings) at 203 dpi and times each from its notification to the
# gateway's "Print" call. Prints the simulator's summary and the gateway's peak memory
# (VmHWM) after 1,000 jobs and at the end.
#   bench/print_road.sh BUILD_DIR [JOBS] [WINDOW] [RATE]
# BUILD_DIR is configured with -DQX_MES_HOST=<address>; the simulator listens there (QX_MES_HOST
# in the environment, default 127.0.0.1). RATE 0 sends as fast as the window allows.
set -euo pipefail
BUILD="$(cd "${1:?build directory}" && pwd)"
JOBS="${2:-10000}"
WINDOW="${3:-16}"
RATE="${4:-0}"
HOST="${QX_MES_HOST:-127.0.0.1}"
JOB_NAME=Load
source "$(dirname "$0")/run_setup.sh"

"$SIMULATOR" --listen "$HOST" --job "$RUN/job.json" --load "$JOBS" --window "$WINDOW" \
  --rate "$RATE" </dev/null >"$RUN/sim.log" 2>&1 &
SIM_PID=$!
(cd "$RUN/work" && QT_QPA_PLATFORM=offscreen exec "$QUENLOR") >"$RUN/quenlor.log" 2>&1 &
GW_PID=$!

hwm() { awk '/^VmHWM/ {print $2 " " $3}' "/proc/$GW_PID/status"; }
HWM_1000=""
for _ in $(seq 6000); do
  if [ -z "$HWM_1000" ] && grep -q "load: 1000 answered" "$RUN/sim.log"; then
    HWM_1000="$(hwm)"
  fi
  kill -0 "$SIM_PID" 2>/dev/null || break
  sleep 0.1
done
HWM_END="$(hwm)"
grep "load:" "$RUN/sim.log" | grep -v " answered$" || true
echo "gateway VmHWM after 1000 jobs: ${HWM_1000:-n/a}, after $JOBS jobs: $HWM_END"
if kill -0 "$SIM_PID" 2>/dev/null || ! grep -q "load: done" "$RUN/sim.log"; then
  echo "FAIL: the feed did not finish" >&2
  tail -5 "$RUN/sim.log" >&2
  exit 1
fi
