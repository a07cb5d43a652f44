#!/usr/bin/env bash
# Installs what the project needs (Debian 12), builds everything and runs the whole test suite:
# the main build's tests, the same suite under AddressSanitizer with UndefinedBehaviorSanitizer,
# the suite under ThreadSanitizer, a bounded run of every fuzz target, and the Qt-free libraries'
# tests built for Windows (MinGW-w64) and run under Wine; the quenlor stage configures with Brolla
# switched off and another MES host, builds Quenlor and runs its end-to-end cases. QX_STAGES chooses stages (default
# "main quenlor asan tsan fuzz windows").
set -euo pipefail
cd "$(dirname "$0")"

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
PACKAGES=(
  cmake g++ make pkg-config clang clang-format libclang-rt-14-dev
  qt6-base-dev qt6-svg-dev qt6-webengine-dev qt6-tools-dev qt6-l10n-tools
  libspdlog-dev libfmt-dev nlohmann-json3-dev libleveldb-dev libsnappy-dev
  libcurl4-openssl-dev libboost-dev libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool iproute2 openssl libssl-dev libx11-dev fonts-wqy-microhei
  g++-mingw-w64-x86-64-posix wine64 dpkg-dev
)
if [ "${QX_SKIP_INSTALL:-0}" != "1" ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${PACKAGES[@]}" >/dev/null
fi

BUILD_DIR="${BUILD_DIR:-build}"
STAGES="${QX_STAGES:-main quenlor asan tsan fuzz windows}"
JOBS="$(nproc)"

for stage in $STAGES; do
  echo "=== $stage"
  case "$stage" in
    main)
      cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo
      cmake --build "$BUILD_DIR" -j"$JOBS"
      ctest --test-dir "$BUILD_DIR" -j"$JOBS" --output-on-failure | tee "$BUILD_DIR/ctest.log"
      # Brolla's road must have run: skipped (no port 443, no display) or not added, it fails.
      for road in App_BrollaEndToEnd App_MainCtrlTest; do
        if ! grep -Eq " $road \.+ +Passed" "$BUILD_DIR/ctest.log"; then
          echo "$road did not run and pass" >&2
          exit 1
        fi
      done
      ;;
    quenlor)
      # As on a kit without Qt WebEngine: Brolla is switched off, and nothing of it is built.
      # Built for an MES host other than 127.0.0.1 (as the load runs and the Windows recipe use),
      # the gateway's end-to-end cases run once more; the long refusal case is host-independent.
      configured="$(cmake -S . -B "$BUILD_DIR-quenlor" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQX_BUILD_BROLLA=OFF -DQX_MES_HOST=127.0.0.66)"
      echo "$configured"
      grep -q "Brolla and its tests are skipped" <<<"$configured"
      cmake --build "$BUILD_DIR-quenlor" -j"$JOBS" --target Quenlor Gateway_EndToEndTest
      "$BUILD_DIR-quenlor/qx/Tests/Gateway/Gateway_EndToEndTest" \
        --gtest_filter=-GatewayEndToEnd.RefusedInitializeAndCloseEndTheLinkForGood
      ;;
    asan | tsan)
      qx/Tests/sanitize.sh "$stage" "$BUILD_DIR-$stage"
      ;;
    fuzz)
      CC=clang-14 CXX=clang++-14 cmake -S . -B "$BUILD_DIR-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQX_FUZZ=ON -DQX_SANITIZE_ADDRESS=ON
      cmake --build "$BUILD_DIR-fuzz" -j"$JOBS" --target qx_fuzz
      ctest --test-dir "$BUILD_DIR-fuzz" -L fuzz -j"$JOBS" --output-on-failure
      ;;
    windows)
      cmake/windows-test.sh "$BUILD_DIR-windows"
      ;;
    *)
      echo "unknown stage: $stage (main, quenlor, asan, tsan, fuzz, windows)" >&2
      exit 2
      ;;
  esac
done
