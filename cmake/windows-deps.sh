#!/usr/bin/env bash
# Fills <deps> with what the MinGW-w64 build of the Qt-free libraries needs, all from Debian:
#   include/   the staging include folder: links to the header-only libraries' own folders, never
#              /usr/include itself (glibc's C headers there would shadow MinGW's)
#   lib/       LevelDB (from Debian's source package) and GoogleTest (from /usr/src/googletest),
#              built for the target, with their CMake package files, and package files for the
#              header-only nlohmann json and spdlog (with fmt header-only)
# A library already built there is not built again.
#
# usage: cmake/windows-deps.sh <deps>
set -euo pipefail

DEPS="$(realpath -m "${1:?usage: $0 <deps>}")"
TOOLCHAIN="$(realpath "$(dirname "$0")/mingw-w64.cmake")"
JOBS="$(nproc)"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
mkdir -p "$DEPS/src" "$DEPS/include" "$DEPS/lib/cmake"

# The target's CMake runs, configured as the project's own cross build.
cross_cmake() {
  local src="$1" build="$2"
  shift 2
  cmake -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DQX_WINDOWS_DEPS="$DEPS" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$DEPS" "$@" >"$build.log"
  cmake --build "$build" -j"$JOBS" >>"$build.log"
  cmake --install "$build" >>"$build.log"
}

# --- staging include folder ----------------------------------------------------------------------
for lib in boost nlohmann spdlog fmt; do
  ln -sfn "/usr/include/$lib" "$DEPS/include/$lib"
done

# Header-only packages under the names the project asks for. spdlog is used without its compiled
# library (Debian's headers already pick the external fmt), fmt without its library too.
write_package() {
  local name="$1" version="$2" target="$3" defs="$4"
  mkdir -p "$DEPS/lib/cmake/$name"
  cat >"$DEPS/lib/cmake/$name/${name}Config.cmake" <<CONFIG
if(NOT TARGET $target)
  add_library($target INTERFACE IMPORTED)
  set_target_properties($target PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "$DEPS/include"
    INTERFACE_COMPILE_DEFINITIONS "$defs")
endif()
CONFIG
  cat >"$DEPS/lib/cmake/$name/${name}ConfigVersion.cmake" <<VERSION
set(PACKAGE_VERSION "$version")
if(PACKAGE_FIND_VERSION VERSION_GREATER PACKAGE_VERSION)
  set(PACKAGE_VERSION_COMPATIBLE FALSE)
else()
  set(PACKAGE_VERSION_COMPATIBLE TRUE)
endif()
VERSION
}
version_of() {
  dpkg-query -W -f='${Version}' "$1" | sed 's/[-+~].*//'
}
write_package nlohmann_json "$(version_of nlohmann-json3-dev)" nlohmann_json::nlohmann_json ""
write_package spdlog "$(version_of libspdlog-dev)" spdlog::spdlog "FMT_HEADER_ONLY"
write_package fmt "$(version_of libfmt-dev)" fmt::fmt "FMT_HEADER_ONLY"

# --- GoogleTest ----------------------------------------------------------------------------------
if [ ! -f "$DEPS/lib/cmake/GTest/GTestConfig.cmake" ]; then
  echo "windows-deps: GoogleTest"
  cross_cmake /usr/src/googletest "$DEPS/src/googletest-build" -DBUILD_GMOCK=ON
fi

# --- LevelDB -------------------------------------------------------------------------------------
# Debian's source package for the suite of the installed archive entry, through a deb-src entry
# for the same archive (cmake/apt-deb-src.sh).
add_deb_src() {
  "$(dirname "$0")/apt-deb-src.sh"
  if ! apt-cache showsrc leveldb 2>/dev/null | grep -q '^Package: leveldb'; then
    $SUDO apt-get update -qq
  fi
}
if [ ! -f "$DEPS/lib/cmake/leveldb/leveldbConfig.cmake" ]; then
  echo "windows-deps: LevelDB"
  add_deb_src
  rm -rf "$DEPS/src/leveldb"
  mkdir -p "$DEPS/src/leveldb"
  (cd "$DEPS/src/leveldb" && apt-get source -qq leveldb >/dev/null 2>"$DEPS/src/leveldb/source.log") ||
    { echo "windows-deps: apt-get source leveldb failed, see $DEPS/src/leveldb/source.log" >&2; exit 1; }
  src="$(find "$DEPS/src/leveldb" -mindepth 1 -maxdepth 1 -type d -name 'leveldb-*')"
  # Windows environment; no tests, benchmarks, snappy, crc32c or tcmalloc.
  cross_cmake "$src" "$DEPS/src/leveldb-build" -DLEVELDB_BUILD_TESTS=OFF \
    -DLEVELDB_BUILD_BENCHMARKS=OFF -DLEVELDB_INSTALL=ON -DHAVE_SNAPPY=OFF -DHAVE_CRC32C=OFF \
    -DHAVE_TCMALLOC=OFF
fi
for lib in leveldb gtest gmock; do
  [ -e "$DEPS/include/$lib" ] || { echo "windows-deps: $lib headers missing" >&2; exit 1; }
done
