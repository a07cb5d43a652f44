#!/usr/bin/env bash
# Installs what the project needs (Debian 12), builds everything and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")"

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
PACKAGES=(
  cmake g++ make pkg-config clang clang-format libclang-rt-14-dev
  qt6-base-dev qt6-svg-dev qt6-webengine-dev qt6-tools-dev qt6-l10n-tools
  libspdlog-dev libfmt-dev nlohmann-json3-dev libleveldb-dev libsnappy-dev
  libcurl4-openssl-dev libboost-dev libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool openssl libssl-dev libx11-dev fonts-wqy-microhei
)
if [ "${QX_SKIP_INSTALL:-0}" != "1" ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${PACKAGES[@]}" >/dev/null
fi

BUILD_DIR="${BUILD_DIR:-build}"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" -j"$(nproc)"
ctest --test-dir "$BUILD_DIR" -j"$(nproc)" --output-on-failure
