#!/usr/bin/env bash
# Runs clang-tidy with the project's checks (.clang-tidy) over the program's sources, in the build folder
# given (default: build, configured and built: the office's headers are generated there). A warning fails.
#   tools/check-tidy.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
test -f "$build/compile_commands.json" || { echo "no $build/compile_commands.json: build first" >&2; exit 2; }
files=$(git ls-files 'src/*.cpp' | wc -l)
run-clang-tidy -quiet -p "$build" -j "$(nproc)" "$PWD/src/.*\.cpp\$" >"$build/tidy.log" 2>&1 || {
  grep -E "(warning|error): " "$build/tidy.log" | sort -u
  echo "clang-tidy: the findings above (whole output in $build/tidy.log)"
  exit 1
}
echo "clang-tidy: $files files without findings"
