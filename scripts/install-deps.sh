#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build and test the project, and
# any further packages named as arguments (the CI steps name what they need;
# a name such as libpugixml-dev:arm64 also enables that architecture).
# Run as root. Only packages that are missing are installed.
set -euo pipefail

packages=(
  cmake g++ clang make pkg-config ccache
  libpugixml-dev libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libbz2-dev liblzma-dev libzstd-dev bzip2 xz-utils zstd
  libyaml-dev libssl-dev
  valgrind python3 groff-base
  "$@"
)

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
  apt-get -o DPkg::Lock::Timeout=600 update -qq
  apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "All needed packages are installed."
