#!/usr/bin/env bash
# Runs the label gateway's whole road on this machine: installs what is needed (Debian 12),
# builds Quenlor, the stand-in label engine and the MES simulator, then lets the simulator
# accept the gateway, register the sample formats and send one print job. The rendered label
# is saved as out/demo/label-1.png (DEMO_DIR chooses another folder). Ends by itself.
set -euo pipefail
cd "$(dirname "$0")"

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
# The package list is test.sh's own, so the two never drift apart.
eval "$(sed -n '/^PACKAGES=(/,/^)/p' test.sh)"
if [ "${QX_SKIP_INSTALL:-0}" != "1" ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${PACKAGES[@]}" >/dev/null
fi

BUILD_DIR="${BUILD_DIR:-build}"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" --target Quenlor MesSimulator qx_engine
QUENLOR="$(cd "$BUILD_DIR" && pwd)/qx/Source/Gateway/Quenlor"
SIMULATOR="$(cd "$BUILD_DIR" && pwd)/qx/Tools/MesSimulator/MesSimulator"

# The gateway keeps its data in ../.data beside its working directory: formats go into
# ../.data/var/Bartender.
DEMO_DIR="${DEMO_DIR:-out/demo}"
rm -rf "$DEMO_DIR"
mkdir -p "$DEMO_DIR/work" "$DEMO_DIR/.data/var/Bartender"
DEMO_DIR="$(cd "$DEMO_DIR" && pwd)"
cp qx/Source/Engine/samples/*.btw "$DEMO_DIR/.data/var/Bartender/"
cat > "$DEMO_DIR/job.json" <<'JOB'
{"Type": "Label", "PrinterName": "Demo printer", "FormatName": "Label 100x50",
 "FormatFilename": "Label_100x50.btw", "WidthInMm": 100, "HeightInMm": 50,
 "isLandscape": false, "Dpi": 300,
 "Data": {"PartNo": "QX-4711", "Description": "Demo part from the MES simulator",
          "Lot": "L-0815", "Quantity": "25", "Date": "2024-07-01"}}
JOB

"$SIMULATOR" --job "$DEMO_DIR/job.json" --png-dir "$DEMO_DIR" --exit-after-prints 1 \
  --frame-log "$DEMO_DIR/frames.log" </dev/null &
SIMULATOR_PID=$!
[ -n "${DISPLAY:-}" ] || export QT_QPA_PLATFORM=offscreen
(cd "$DEMO_DIR/work" && exec "$QUENLOR") >"$DEMO_DIR/quenlor.log" 2>&1 &
QUENLOR_PID=$!
stop_quenlor() { kill "$QUENLOR_PID" 2>/dev/null || true; wait "$QUENLOR_PID" 2>/dev/null || true; }
trap stop_quenlor EXIT

# The simulator ends once it has received the label image, or fails when port 5212 is taken.
STATUS=0
for _ in $(seq 600); do
  kill -0 "$SIMULATOR_PID" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$SIMULATOR_PID" 2>/dev/null; then
  kill "$SIMULATOR_PID"
  STATUS=1
fi
wait "$SIMULATOR_PID" || STATUS=1
stop_quenlor

echo "--- gateway log ($DEMO_DIR/quenlor.log)"
cat "$DEMO_DIR/quenlor.log"
echo "--- frames seen by the MES simulator: $DEMO_DIR/frames.log"
if [ "$STATUS" -eq 0 ] && [ -s "$DEMO_DIR/label-1.png" ]; then
  echo "Label image: $DEMO_DIR/label-1.png"
else
  echo "No label image was received." >&2
  exit 1
fi
