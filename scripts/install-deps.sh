#!/usr/bin/env bash
# Installs what building and testing vokapi needs on Debian 12, and the
# further packages named as arguments (those of the Windows build, say).
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  zlib1g-dev                      # inflating compressed recordings
  libgtest-dev libgmock-dev       # unit tests
  libbenchmark-dev                # benchmarks
  libcli11-dev                    # command-line parsing of the tools
  libfmt-dev                      # fast formatting of exported tables
  nlohmann-json3-dev              # JSON output of the tools
  openjdk-17-jdk-headless junit5  # Java binding and its tests
  python3-numpy python3-pandas python3-pytest python3-matplotlib  # Python package, its tests and example
  python3-dask python3-distributed python3-fsspec  # vokapi.dataset: many recordings on Dask
  python3-bids-validator          # file-name check of the BIDS datasets in the tests
  clang libclang-rt-14-dev        # fuzz targets (libFuzzer) of scripts/ci-fuzz.sh
  octave liboctave-dev            # MATLAB/Octave binding (mkoctfile --mex) and its tests
  "$@"
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
