#!/usr/bin/env bash
# Installs every Debian package the build and the tests need.
# Does nothing when all of them are already installed.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libeigen3-dev libboost-dev libboost-filesystem-dev libboost-system-dev
  libspdlog-dev libfmt-dev libsystemd-dev libfcl-dev liboctomap-dev
  libgeometric-shapes-dev libassimp-dev libresource-retriever-dev librandom-numbers-dev liburdfdom-dev liburdf-dev
  libkdl-parser-dev liborocos-kdl-dev libament-index-cpp-dev libnanoflann-dev
  libpcl-dev liblapack-dev libtinyxml2-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-format
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
"${sudo_cmd[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
