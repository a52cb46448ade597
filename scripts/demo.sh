#!/usr/bin/env bash
# Runs the main job on the bundled demo arm: installs missing packages, builds
# the library and the example host into build/, installs the demo arm data into
# build/demo-prefix and runs the example against it. Arguments go to the
# example (--help lists them); the library's console output goes to
# build/plan_demo.log unless --verbose is given.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install_deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target bramlock_plan_demo
prefix="$PWD/build/demo-prefix"
cmake --install build --prefix "$prefix" --component bramlock_demo_data >/dev/null

AMENT_PREFIX_PATH="$prefix${AMENT_PREFIX_PATH:+:$AMENT_PREFIX_PATH}" \
  build/examples/bramlock_plan_demo --log build/plan_demo.log "$@"
