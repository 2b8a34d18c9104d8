#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DLENS_BUILD_TESTS=ON
cmake --build build -j "$jobs"
# The Windows plug-ins and their zip; ctest runs them under wine against this build.
if command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1; then
  cmake -S . -B build-win -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake
  cmake --build build-win -j "$jobs" --target all dist
fi
# The 64-bit editor's .auf2 files; ctest runs them under wine against this
# build. The zip with both editors' files: build-win64/dist.
if command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
  cmake -S . -B build-win64 -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake
  cmake --build build-win64 -j "$jobs"
  if [ -f build-win/plugins.txt ]; then bash scripts/dist.sh build-win build-win64; fi
fi
# Reliability: the whole suite again under AddressSanitizer and UBSan
# (build-asan), then each plug-in's fuzz target for a bounded time
# (build-fuzz, clang). LENS_FUZZ_SECONDS sets the time per target.
bash scripts/sanitize.sh
bash scripts/fuzz.sh "${LENS_FUZZ_SECONDS:-30}"
# The main suite last, so its summary closes the output.
ctest --test-dir build --output-on-failure -j "$jobs"
