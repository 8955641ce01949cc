#!/usr/bin/env bash
# Installs the packages the build and the tests need, where they are missing;
# or, given package names, those packages.
set -euo pipefail
packages=("$@")
[ ${#packages[@]} -gt 0 ] || packages=(g++ cmake make libgtest-dev libbenchmark-dev libxml2-utils time chromium)
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for p in "${packages[@]}"; do
  have "$p" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages: ${need[*]} (run as root, or install them)" >&2
    exit 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
fi
