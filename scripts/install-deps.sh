#!/usr/bin/env bash
# Installs the Debian 12 packages that building the libraries and orn-redact
# needs; with --tests, also those that the test suite and CI need; and any
# further packages named as arguments (the CI steps name what they need; a
# name such as libpugixml-dev:arm64 also enables that architecture).
# Run as root. Only packages that are missing are installed, and apt shows
# what it fetches and sets up.
#
#   install-deps.sh [--tests] [PACKAGE]...
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libpugixml-dev zlib1g-dev libbz2-dev liblzma-dev libzstd-dev libyaml-dev libssl-dev
)
if [ "${1:-}" = --tests ]; then
  shift
  packages+=(
    clang ccache libgtest-dev libgmock-dev libbenchmark-dev
    bzip2 xz-utils zstd valgrind python3 groff-base
  )
fi
packages+=("$@")

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  for package in "${missing[@]}"; do
    architecture=${package##*:}
    if [ "$architecture" != "$package" ] &&
       ! dpkg --print-foreign-architectures | grep -qx "$architecture"; then
      dpkg --add-architecture "$architecture"
    fi
  done
  # Waits for another apt or dpkg run on the same machine to finish.
  apt-get -o DPkg::Lock::Timeout=600 -q update
  apt-get -o DPkg::Lock::Timeout=600 -q install -y --no-install-recommends "${missing[@]}"
fi
echo "All needed packages are installed."
