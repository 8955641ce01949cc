#!/usr/bin/env bash
# Installs the packages the build and the tests need, where they are missing;
# with --build only those of the build; given package names, those packages.
set -euo pipefail
# The build: compiler, CMake and the libraries the program links.
build=(g++ cmake make pkg-config libarchive-dev zlib1g-dev libxxhash-dev libsqlite3-dev libpq-dev
  libxlsxwriter-dev)
# The tests: GoogleTest, Google Benchmark, real parsers, compressors and
# archivers, the SQLite shell and a PostgreSQL server, Chromium, Python (the
# load tests compare loads with the -D output through it) and openpyxl (the
# workbook is read back with it).
tests=(libgtest-dev libbenchmark-dev libxml2-utils jq time chromium sqlite3 postgresql
  gzip bzip2 xz-utils zstd zip unzip tar xxhash bsdextrautils groff man-db python3
  python3-openpyxl)
packages=("$@")
if [ ${#packages[@]} -eq 1 ] && [ "${packages[0]}" = --build ]; then
  packages=("${build[@]}")
elif [ ${#packages[@]} -eq 0 ]; then
  packages=("${build[@]}" "${tests[@]}")
fi
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
