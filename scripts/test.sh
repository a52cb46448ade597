#!/usr/bin/env bash
# Installs missing packages, checks that the sources follow .clang-format,
# builds everything into build/ and runs the test suite; then builds with
# AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/ and runs the
# suite again. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install_deps.sh

# The tracked sources against .clang-format, with clang-format 14 as Debian 12
# ships it (other versions lay some lines out differently). Fails naming the
# command that formats the files that differ.
check_format() {
  local listed files=() report unformatted
  listed=$(git ls-files '*.cpp' '*.h')
  mapfile -t files <<<"$listed"
  if report=$(clang-format --dry-run -Werror "${files[@]}" 2>&1); then return 0; fi
  unformatted=$(sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' <<<"$report" |
    sort -u | tr '\n' ' ')
  if [ -z "$unformatted" ]; then
    echo "$report" >&2
  else
    echo "these files differ from .clang-format; format them with:" >&2
    echo "  clang-format -i ${unformatted% }" >&2
  fi
  return 1
}

# Before the long build, so that a format slip fails fast.
check_format

jobs=$(nproc)
# Tests whose suite or test name starts with "Slow" (large seeded sweeps, long
# timeouts) run only in the plain build: under the sanitizers they would take
# most of CI's time budget. Names that merely contain the word
# ("...Slowest...", "...SlowSegment...") are quick and stay in.
slow_tests='(^|[./])Slow'

# run_suite BUILD_DIR "CTEST_EXCLUDE_REGEX" CMAKE_ARGS...
run_suite() {
  local build_dir=$1 exclude=$2
  shift 2
  cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$build_dir" -j "$jobs"
  (cd "$build_dir" && ctest --output-on-failure -j "$jobs" --timeout 900 ${exclude:+-E "$exclude"})
}

run_suite build ""
if [ "${BRAMLOCK_SKIP_SANITIZERS:-0}" != "1" ]; then
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS="suppressions=$PWD/scripts/lsan_suppressions.txt" \
    run_suite build-asan "$slow_tests" -DBRAMLOCK_SANITIZE=ON -DBRAMLOCK_BUILD_BENCHMARKS=OFF
fi
