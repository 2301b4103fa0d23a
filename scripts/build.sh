#!/usr/bin/env bash
# Configures and builds one flavour into build/<flavour>.
#   scripts/build.sh [release|debug|asan|tsan] [extra cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."
flavour=${1:-release}
shift || true
jobs=$(nproc)
args=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
case "$flavour" in
  release) ;;
  debug) args=(-G Ninja -DCMAKE_BUILD_TYPE=Debug) ;;
  asan)
    args=(-G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUELVANE_BUILD_APP=OFF
      "-DCMAKE_CXX_FLAGS=-O1 -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
      "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined") ;;
  tsan)
    args=(-G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUELVANE_THREADED_TESTS_ONLY=ON -DQUELVANE_BUILD_APP=OFF
      "-DCMAKE_CXX_FLAGS=-O1 -fsanitize=thread -fno-omit-frame-pointer"
      "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread") ;;
  *) echo "unknown flavour: $flavour" >&2; exit 2 ;;
esac
cmake -S . -B "build/$flavour" "${args[@]}" "$@" >/dev/null
cmake --build "build/$flavour" -j "$jobs"
