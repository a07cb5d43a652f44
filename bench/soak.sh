#!/usr/bin/env bash
# Soak of Quenlor against the MES simulator: a steady job feed while the simulator, at seeded
# random intervals, drops the connection, stops answering pings, sends malformed frames, drops
# a few new connections right after their handshake, stops reading while a flood of jobs is
# rendered (those jobs go out again on the next connection), sends a flood of empty frames or
# jobs dense in values, or sends a job just before a drop and again after it. Afterwards the gateway must be
# registered again, every job must have been answered exactly once, and its thread count and
# memory must be back where they were after the warm-up; its peak memory is reported.
# Finally the simulator refuses "_INITIALIZE": the gateway must stay disconnected (by design it
# gives up for good) and keep running.
#   bench/soak.sh BUILD_DIR [SECONDS] [SEED]
# BUILD_DIR is configured with -DQX_MES_HOST=<address>; the simulator listens there (QX_MES_HOST
# in the environment, default 127.0.0.1).
set -euo pipefail
BUILD="$(cd "${1:?build directory}" && pwd)"
SECONDS_OF_FAULTS="${2:-180}"
SEED="${3:-1}"
HOST="${QX_MES_HOST:-127.0.0.1}"
FAULT_EVERY_MS="${FAULT_EVERY_MS:-5000}"
# Jobs sent at once to a deaf connection, more than a bounded gateway takes on.
FLOOD="${FLOOD:-20000}"
RATE="${RATE:-50}"
# Jobs before the baseline and again after the faults; more than the log panel's 512 lines, so
# that the panel is full when the baseline is taken. The simulator ends the warm-up with three
# deaf connections' floods, whose high-water mark the allocator keeps.
WARMUP="${WARMUP:-1000}"
# Memory may be this much above the warm-up figure (KiB), threads not at all.
RSS_TOLERANCE_KB="${RSS_TOLERANCE_KB:-4096}"
JOB_NAME=Soak
source "$(dirname "$0")/run_setup.sh"

mkfifo "$RUN/commands"
"$SIMULATOR" --listen "$HOST" --job "$RUN/job.json" --load "$WARMUP" --window 16 --rate "$RATE" \
  --soak "$SECONDS_OF_FAULTS" --seed "$SEED" --fault-every "$FAULT_EVERY_MS" --flood "$FLOOD" \
  <"$RUN/commands" >"$RUN/sim.log" 2>&1 &
SIM_PID=$!
exec 3>"$RUN/commands"
(cd "$RUN/work" && QT_QPA_PLATFORM=offscreen exec "$QUENLOR") >"$RUN/quenlor.log" 2>&1 &
GW_PID=$!

FAILURES=()
fail() { FAILURES+=("$1"); echo "FAIL: $1" >&2; }
status() { awk -v key="$1:" '$1 == key {print $2}' "/proc/$GW_PID/status"; }
# Waits up to $2 seconds for a line of the simulator's log that matches $1; gives up at once
# when either program has exited (a feed without progress stops the simulator).
wait_for() {
  local deadline=$((SECONDS + $2))
  until grep -q "$1" "$RUN/sim.log"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    kill -0 "$GW_PID" 2>/dev/null || return 1
    kill -0 "$SIM_PID" 2>/dev/null || return 1
    sleep 0.2
  done
}
# The simulator's reason for stopping a feed that made no progress, if it gave one.
stall() { grep -o "no progress.*" "$RUN/sim.log" | head -1; }
finish() {
  echo "--- simulator"
  grep -E "soak:|load:|refus|connected" "$RUN/sim.log" | tail -20
  if [ "${#FAILURES[@]}" -eq 0 ]; then
    echo "SOAK PASS (seed $SEED, $SECONDS_OF_FAULTS s of faults)"
    exit 0
  fi
  echo "SOAK FAIL (seed $SEED): ${FAILURES[*]}"
  exit 1
}

if ! wait_for "soak: warmed up" 240; then
  fail "no warm-up $(stall)"
  finish
fi
# Let the warm-up's allocations and threads settle before taking the baseline.
sleep 5
BASE_THREADS="$(status Threads)"
BASE_RSS="$(status VmRSS)"
echo "baseline after warm-up: Threads $BASE_THREADS VmRSS $BASE_RSS kB"
echo go >&3

if ! wait_for "soak: settled" $((SECONDS_OF_FAULTS + 180)); then
  fail "did not settle after the faults $(stall)"
  echo status >&3
  sleep 1
  finish
fi
SETTLED="$(grep "soak: settled" "$RUN/sim.log")"
read -r SENT ANSWERED DUPLICATES UNKNOWN < <(echo "$SETTLED" |
  sed -E 's/.*sent ([0-9]+) answered ([0-9]+) duplicates ([0-9]+) unknown ([0-9]+).*/\1 \2 \3 \4/')
[ "$SENT" = "$ANSWERED" ] || fail "$((SENT - ANSWERED)) of $SENT jobs unanswered"
[ "$DUPLICATES" = 0 ] || fail "$DUPLICATES jobs answered more than once"
[ "$UNKNOWN" = 0 ] || fail "$UNKNOWN answers for jobs never sent"

sleep 5
END_THREADS="$(status Threads)"
END_RSS="$(status VmRSS)"
echo "after settling: Threads $END_THREADS VmRSS $END_RSS kB (tolerance +$RSS_TOLERANCE_KB kB)," \
  "peak VmHWM $(status VmHWM) kB"
[ "$END_THREADS" = "$BASE_THREADS" ] || fail "threads $BASE_THREADS -> $END_THREADS"
[ "$END_RSS" -le $((BASE_RSS + RSS_TOLERANCE_KB)) ] || fail "VmRSS $BASE_RSS -> $END_RSS kB"

# The refusal ends the gateway's link for good: it must not come back, and must not exit.
CONNECTIONS_BEFORE="$(grep -c "gateway connected" "$RUN/sim.log")"
echo refuse >&3
if ! wait_for "refused _INITIALIZE" 60; then
  fail "no _INITIALIZE after the refusal's drop"
  finish
fi
sleep 25
CONNECTIONS_AFTER="$(grep -c "gateway connected" "$RUN/sim.log")"
[ "$CONNECTIONS_AFTER" = $((CONNECTIONS_BEFORE + 1)) ] ||
  fail "the gateway connected $((CONNECTIONS_AFTER - CONNECTIONS_BEFORE)) times after the refusal"
kill -0 "$GW_PID" 2>/dev/null || fail "the gateway exited after the refusal"
echo quit >&3
finish
