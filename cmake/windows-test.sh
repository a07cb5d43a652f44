#!/usr/bin/env bash
# The Windows stage: checks the deb-src step, builds the Qt-free libraries and their tests with
# MinGW-w64 (dependencies from cmake/windows-deps.sh) and runs the tests under Wine.
#
# usage: cmake/windows-test.sh <build>
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="$(realpath -m "${1:?usage: $0 <build>}")"
JOBS="$(nproc)"

cmake/apt-deb-src-test.sh
cmake/windows-deps.sh "$BUILD/deps"
cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD" -j"$JOBS"

# The prefix the toolchain file names for the tests, served by one wineserver for the whole run.
# Wine's own helper processes start here, away from the output CTest reads: started by a test,
# they would keep that test's output open until the server ends.
export WINEPREFIX="$BUILD/wineprefix" WINEDEBUG=-all DISPLAY= WINEDLLOVERRIDES="mscoree,mshtml="
WINE="setarch x86_64 --addr-no-randomize /usr/lib/wine/wine64"  # as the toolchain file runs it
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wineserver -k 2>/dev/null || true  # one left by an interrupted run
/usr/lib/wine/wineserver -p
trap '/usr/lib/wine/wineserver -k || true' EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  $WINE wineboot --init </dev/null >/dev/null 2>&1
  # Wine shows the Unix dot files as hidden; shown, a file is hidden only by its attribute,
  # which the tests check.
  $WINE reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f </dev/null >/dev/null 2>&1
else
  $WINE wineboot </dev/null >/dev/null 2>&1
fi
# A share and a drive on one folder, for a working directory on a network share: Wine maps
# \\qxserver\qxshare through dosdevices/unc and Q: through dosdevices/q:.
rm -rf "$BUILD/share"
mkdir -p "$BUILD/share" "$WINEPREFIX/dosdevices/unc/qxserver"
ln -sfn "$BUILD/share" "$WINEPREFIX/dosdevices/unc/qxserver/qxshare"
ln -sfn "$BUILD/share" "$WINEPREFIX/dosdevices/q:"
export QX_TEST_SHARE='\\qxserver\qxshare' QX_TEST_SHARE_DRIVE='Q:'
# A folder with a link back to itself below it, which Wine shows as a plain folder, as MinGW's
# library shows a junction: Wine programs cannot make Unix links. Wine maps / to Z:.
rm -rf "$BUILD/link-loop"
mkdir -p "$BUILD/link-loop/sub"
echo '{}' >"$BUILD/link-loop/a.btw"
echo '{}' >"$BUILD/link-loop/sub/b.btw"
ln -s .. "$BUILD/link-loop/sub/up"
export QX_TEST_LINK_LOOP="Z:${BUILD//\//\\}\\link-loop"
# Every case runs once: a failure fails the stage.
ctest --test-dir "$BUILD" -j"$JOBS" --timeout 300 --output-on-failure
