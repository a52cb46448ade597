#!/usr/bin/env bash
# Checks the pattern scripts/test.sh leaves out of the sanitizer run against
# this build's tests: the slow ones match, quick ones that only contain the
# word "Slow" in their names do not.
# Usage: check_slow_exclusion.sh TEST_SH CTEST BUILD_DIR
set -euo pipefail
test_sh=$1 ctest=$2 build_dir=$3
pattern=$(sed -n "s/^slow_tests='\(.*\)'$/\1/p" "$test_sh")
if [ -z "$pattern" ]; then
  echo "no slow_tests pattern in $test_sh"
  exit 1
fi
matched=$(cd "$build_dir" && "$ctest" -N -R "$pattern" | sed -n 's/^ *Test *#[0-9]*: //p')
status=0
for slow in IkfastRecall.SlowTenThousandPoses RrtConnectResultCodes.SlowSearchTimesOutAfterFifteenSeconds; do
  if ! grep -qx "$slow" <<<"$matched"; then
    echo "slow test not left out: $slow"
    status=1
  fi
done
for quick in TwoWaypointsTakeTheSlowestJointsTimeAndRestAtBothEnds LinearSpeedRampsAwayFromASlowSegmentBothWays; do
  if grep -q "$quick" <<<"$matched"; then
    echo "quick test left out: $quick"
    status=1
  fi
done
exit $status
