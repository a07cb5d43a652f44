# Shared by print_road.sh and soak.sh (sourced, with BUILD set): the programs, a run folder with
# the 100 x 50 mm sample and a job for it (printer name $JOB_NAME), and the clean-up of both
# processes (SIM_PID, GW_PID) at exit. KEEP_RUN=1 keeps the run folder.
REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
QUENLOR="$BUILD/qx/Source/Gateway/Quenlor"
SIMULATOR="$BUILD/qx/Tools/MesSimulator/MesSimulator"

RUN="$(mktemp -d)"
mkdir -p "$RUN/work" "$RUN/.data/var/Bartender"
cp "$REPO/qx/Source/Engine/samples/Label_100x50.btw" "$RUN/.data/var/Bartender/"
cat > "$RUN/job.json" <<JOB
{"Type": "Label", "PrinterName": "$JOB_NAME", "FormatName": "Label 100x50",
 "FormatFilename": "Label_100x50.btw", "WidthInMm": 100, "HeightInMm": 50,
 "isLandscape": false, "Dpi": 203,
 "Data": {"PartNo": "QX-4711", "Description": "$JOB_NAME test part", "Lot": "L-0815",
          "Quantity": "25", "Date": "2024-07-01"}}
JOB

cleanup() {
  exec 3>&- 2>/dev/null || true
  [ -n "${SIM_PID:-}" ] && kill "$SIM_PID" 2>/dev/null || true
  [ -n "${GW_PID:-}" ] && kill "$GW_PID" 2>/dev/null || true
  wait 2>/dev/null || true
  [ -n "${KEEP_RUN:-}" ] && echo "kept $RUN" || rm -rf "$RUN"
}
trap cleanup EXIT
